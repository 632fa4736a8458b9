// quimbel gallery: every add-on on one image, with a page that shows the results side by side.
//
// The filters run one after another on the main thread, each under a capture of standard output
// so that the page can show what it printed; the captures cannot overlap because standard output
// belongs to the whole process. Encoding the results, which takes far longer than the filters,
// goes to a pool of workers and overlaps the next filter's run.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterRun.h"
#include "FolderScan.h"
#include "GalleryPage.h"
#include "Icon.h"
#include "IconFile.h"
#include "ImageFile.h"
#include "PlatformResources.h"
#include "ResourceReader.h"
#include "SameFile.h"
#include "StdoutCapture.h"
#include "WorkerPool.h"

namespace {

struct GalleryArguments {
	std::string input;
	std::string outputFolder;
	int jobs = 0;
};

const char* kSourceImage = "source.png";
const char* kPage = "index.html";

// Writes `bitmap` as `name` in the gallery folder and records the file in `item`; on failure
// records the error instead.
void WriteItemImage(const BBitmap& bitmap, const std::string& folder, const std::string& name,
                    const std::string& input, const HostOptions& options, GalleryItem& item)
{
	std::string path = folder + "/" + name;
	if (IsSameFile(input, path)) {
		item.error = path + ": the output is the input file " + input + "; not overwriting it";
		return;
	}
	std::string error;
	if (!WriteImage(bitmap, path, options.write, error)) {
		item.error = error;
		return;
	}
	struct stat status;
	if (stat(path.c_str(), &status) == 0)
		item.fileBytes = status.st_size;
	item.image = name;
}

// Writes the large icon of the add-on at `addonPath` as `name` in the gallery folder and records
// it in `item`. An add-on without readable resources simply has no icon; only an icon that
// cannot be written is an error, returned in `error`.
bool WriteItemIcon(const std::string& addonPath, const std::string& folder, const std::string& name,
                   const std::string& input, const HostOptions& options, GalleryItem& item,
                   std::string& error)
{
	std::vector<Resource> resources;
	std::string readError;
	if (!ReadResources(addonPath, resources, readError))
		return true;
	const Resource* icon = FindIcon(resources, kLargeIconType);
	if (icon == NULL)
		return true;
	std::string path = folder + "/" + name;
	if (IsSameFile(input, path)) {
		error = path + ": the output is the input file " + input + "; not overwriting it";
		return false;
	}
	if (!WriteIconFile(*icon, path, options.write, error))
		return false;
	item.icon = name;
	return true;
}

void DescribeBitmap(const BBitmap& bitmap, GalleryItem& item)
{
	item.width = bitmap.Bounds().IntegerWidth() + 1;
	item.height = bitmap.Bounds().IntegerHeight() + 1;
}

int RunGallery(const GalleryArguments& arguments, const HostOptions& options)
{
	AddonFolder folder;
	if (!ScanAndReport(folder, options.addonFolder))
		return kExitSomeFailed;

	const std::string& outputFolder = arguments.outputFolder;
	std::error_code failure;
	std::filesystem::create_directories(outputFolder, failure);
	if (failure) {
		fprintf(stderr, "quimbel: %s: cannot create the output folder: %s\n", outputFolder.c_str(),
		        failure.message().c_str());
		return kExitSomeFailed;
	}

	const std::string& input = arguments.input;
	std::string error;
	std::unique_ptr<BBitmap> source = ReadImage(input, options.limits, error);
	if (source == NULL) {
		fprintf(stderr, "quimbel: %s\n", error.c_str());
		return kExitSomeFailed;
	}

	GalleryItem sourceItem;
	sourceItem.title = std::filesystem::path(input).filename().string();
	sourceItem.detail = "source: " + input;
	DescribeBitmap(*source, sourceItem);

	const std::vector<AddonEntry>& entries = folder.Entries();
	// Sized once: the workers fill in their items while later ones are run.
	std::vector<GalleryItem> items(entries.size());
	size_t iconsFailed = 0;
	{
		int jobs = arguments.jobs > 0 ? arguments.jobs : WorkerPool::ProcessorCount();
		WorkerPool pool(jobs, jobs);
		const BBitmap& sourceBitmap = *source;
		pool.Submit([&sourceBitmap, &outputFolder, &input, &options, &sourceItem] {
			WriteItemImage(sourceBitmap, outputFolder, kSourceImage, input, options, sourceItem);
		});

		for (size_t i = 0; i < entries.size(); i++) {
			const AddonEntry& entry = entries[i];
			GalleryItem& item = items[i];
			item.title = entry.name;
			item.detail = entry.fileName + ", id " + FormatFilterId(entry.id);
			std::string iconError;
			if (!WriteItemIcon(folder.Path() + "/" + entry.fileName, outputFolder,
			                   "icon-" + entry.fileName + ".png", input, options, item,
			                   iconError)) {
				fprintf(stderr, "quimbel: %s\n", iconError.c_str());
				iconsFailed++;
			}

			std::unique_ptr<BBitmap> result;
			{
				StdoutCapture capture;
				std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
				result = RunFilter(entry, *source, input, item.error);
				item.seconds =
				    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
				item.diagnostics = capture.Finish();
			}
			if (result == NULL)
				continue;

			DescribeBitmap(*result, item);
			std::shared_ptr<BBitmap> shared(std::move(result));
			std::string name = "result-" + entry.fileName + ".png";
			pool.Submit([shared, &outputFolder, name, &input, &options, &item] {
				WriteItemImage(*shared, outputFolder, name, input, options, item);
			});
		}
		pool.Wait();
	}

	size_t withoutImage = 0;
	for (const GalleryItem& item : items) {
		if (item.error.empty())
			continue;
		fprintf(stderr, "quimbel: %s\n", item.error.c_str());
		withoutImage++;
	}
	if (!sourceItem.error.empty())
		fprintf(stderr, "quimbel: %s\n", sourceItem.error.c_str());

	std::string page = outputFolder + "/" + kPage;
	if (!WriteGalleryPage(page, sourceItem, items, error)) {
		fprintf(stderr, "quimbel: %s\n", error.c_str());
		return kExitSomeFailed;
	}
	fprintf(stderr, "quimbel: %s: %zu of %zu filters produced an image\n", page.c_str(),
	        items.size() - withoutImage, items.size());
	bool complete = withoutImage == 0 && iconsFailed == 0 && sourceItem.error.empty() &&
	                !folder.ProblemsFail(FolderUse::kEveryAddon);
	return complete ? kExitSuccess : kExitSomeFailed;
}

} // namespace

void AddGalleryCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<GalleryArguments>();
	CLI::App* command = app.add_subcommand(
	    "gallery", "Run every add-on on INPUT; write the results and an index.html into DIR");
	command->add_option("INPUT", arguments->input, "The image to run every filter on")->required();
	command->add_option("-o,--output", arguments->outputFolder, "Folder for the gallery")
	    ->required();
	command->add_option("-j,--jobs", arguments->jobs, "Images encoded at once (default: cores)")
	    ->check(CLI::Range(1, 1024));
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunGallery(*arguments, options); };
	});
}
