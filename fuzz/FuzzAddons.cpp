// Loading the add-ons once and running them on each decoded input.
#include "FuzzAddons.h"

#include <cstdio>
#include <cstdlib>

#include "AddonFolder.h"

namespace {

const AddonFolder& EveryAddon()
{
	static AddonFolder sFolder;
	const char* path = getenv("QUIMBEL_ADDONS");
	std::string error;
	if (!sFolder.Scan(path != NULL ? path : QUIMBEL_FUZZ_ADDON_DIR, error))
		fprintf(stderr, "%s: only the decoder is fuzzed\n", error.c_str());
	for (const std::string& problem : sFolder.Problems())
		fprintf(stderr, "%s\n", problem.c_str());
	return sFolder;
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
	static const AddonFolder& sFolder = EveryAddon();
	for (const AddonEntry& entry : sFolder.Entries()) {
		std::unique_ptr<BBitmap> result(entry.filter->Run(bitmap));
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
	// The metadata are read too: they come from the same untrusted bytes.
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> bitmap = read(file, FuzzLimits(), error, &metadata);
	fclose(file);
	if (bitmap != NULL)
		RunEveryAddon(bitmap.get());
	return 0;
}

int FuzzReader(MemoryImageReader read, const uint8_t* data, size_t size)
{
	std::string error;
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> bitmap = read(data, size, FuzzLimits(), error, &metadata);
	if (bitmap != NULL)
		RunEveryAddon(bitmap.get());
	return 0;
}
