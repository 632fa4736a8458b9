// Loading the add-ons once and running them on each decoded input.
#include "FuzzAddons.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "AddonLoader.h"

namespace {

std::vector<FilterPtr> LoadEveryAddon()
{
	const char* folder = getenv("QUIMBEL_ADDONS");
	if (folder == NULL)
		folder = QUIMBEL_FUZZ_ADDON_DIR;

	std::vector<std::string> paths;
	std::error_code error;
	for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
		if (entry.is_regular_file())
			paths.push_back(entry.path().string());
	}
	std::sort(paths.begin(), paths.end());

	std::vector<FilterPtr> filters;
	for (const std::string& path : paths) {
		std::string message;
		std::shared_ptr<Addon> addon = Addon::Load(path, message);
		FilterPtr filter = addon != NULL ? addon->Instantiate(message) : FilterPtr(NULL, {});
		if (filter == NULL) {
			fprintf(stderr, "%s\n", message.c_str());
			continue;
		}
		filters.push_back(std::move(filter));
	}
	if (filters.empty())
		fprintf(stderr, "no add-ons in %s: only the decoder is fuzzed\n", folder);
	return filters;
}

} // namespace

ImageLimits FuzzLimits()
{
	ImageLimits limits;
	limits.maxSide = 4096;
	limits.maxPixels = 1 << 20;
	return limits;
}

void RunEveryAddon(BBitmap* bitmap)
{
	static std::vector<FilterPtr> sFilters = LoadEveryAddon();
	for (const FilterPtr& filter : sFilters) {
		std::unique_ptr<BBitmap> result(filter->Run(bitmap));
		if (result != NULL && !result->IsValid())
			abort();
	}
}

int FuzzReader(ImageReader read, const uint8_t* data, size_t size)
{
	// fmemopen refuses an empty buffer; the readers see empty input through ReadImage only.
	if (size == 0)
		return 0;
	FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
	if (file == NULL)
		return 0;
	std::string error;
	std::unique_ptr<BBitmap> bitmap = read(file, FuzzLimits(), error);
	fclose(file);
	if (bitmap != NULL)
		RunEveryAddon(bitmap.get());
	return 0;
}
