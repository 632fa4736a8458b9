// quimbel gallery: every add-on on one image, with a page that shows the results side by side.
//
// It goes in two rounds. First each filter is run alone, one after another on the main thread:
// once under a capture of standard output, so that the page can show what it printed (the
// captures cannot overlap because standard output belongs to the whole process), then a few
// times more to time it while nothing else of the gallery competes for the processor. Then each
// filter is run again for its result, and the results are written, full size and as previews,
// by a pool of workers while the next filter runs: encoding takes far longer than the filters.
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterRun.h"
#include "FilterTiming.h"
#include "FolderScan.h"
#include "GalleryPage.h"
#include "GalleryPreview.h"
#include "Icon.h"
#include "IconFile.h"
#include "ImageFile.h"
#include "MemoryBudget.h"
#include "Messages.h"
#include "OutputPaths.h"
#include "PlatformResources.h"
#include "ProcessSetup.h"
#include "ResourceReader.h"
#include "StdoutCapture.h"
#include "WorkerPool.h"

namespace {

struct GalleryArguments {
	std::string input;
	std::string outputFolder;
	int jobs = 0;
	bool overwrite = false;
};

const char* kSourceImage = "source.png";
const char* kSourcePreview = "source-preview";
const char* kPage = "index.html";

// How often each filter is timed, after the run that warms it up.
const int kTimedRuns = 5;

// A picture that fits a preview and takes no more than this is shown as it is: a preview would
// save little, and would blur the pixels of a small drawing.
const int64 kShownAsItIs = 128 * 1024;

std::string IconName(const AddonEntry& entry)
{
	return "icon-" + entry.fileName + ".png";
}

std::string ResultName(const AddonEntry& entry)
{
	return "result-" + entry.fileName + ".png";
}

// The preview's name without its extension, which depends on the image.
std::string PreviewStem(const AddonEntry& entry)
{
	return "preview-" + entry.fileName;
}

// Writes the preview of `bitmap`, already written to `item.image`, as `stem` with the extension
// its kind takes, and records it in `item`; or records the image itself as what the page shows
// when it is small enough. On failure records the error instead.
void WriteItemPreview(const BBitmap& bitmap, const std::string& folder, const std::string& stem,
                      const HostOptions& options, GalleryItem& item)
{
	int32 width;
	int32 height;
	PreviewSize(item.width, item.height, width, height);
	if (width == item.width && height == item.height && item.fileBytes <= kShownAsItIs) {
		item.preview = item.image;
		return;
	}
	std::string name = stem + "." + PreviewExtension(bitmap);
	if (!WritePreview(bitmap, folder + "/" + name, options.write.existing, width, height,
	                  item.error))
		return;
	item.preview = name;
	item.previewWidth = width;
	item.previewHeight = height;
}

// Writes `bitmap` as `name` in the gallery folder, and its preview as `previewStem`, and records
// both files in `item`; on failure records the error instead.
void WriteItemImage(const BBitmap& bitmap, const std::string& folder, const std::string& name,
                    const std::string& previewStem, const HostOptions& options, GalleryItem& item)
{
	std::string path = folder + "/" + name;
	std::string error;
	if (!WriteImage(bitmap, path, options.write, error)) {
		item.error = error;
		return;
	}
	struct stat status;
	if (stat(path.c_str(), &status) == 0)
		item.fileBytes = status.st_size;
	item.image = name;
	WriteItemPreview(bitmap, folder, previewStem, options, item);
}

// Writes the large icon of the add-on at `addonPath` as `name` in the gallery folder and records
// it in `item`. An add-on without readable resources simply has no icon; only an icon that
// cannot be written is an error, returned in `error`.
bool WriteItemIcon(const std::string& addonPath, const std::string& folder, const std::string& name,
                   const HostOptions& options, GalleryItem& item, std::string& error)
{
	std::vector<Resource> resources;
	std::string readError;
	if (!ReadResources(addonPath, resources, readError))
		return true;
	const Resource* icon = FindIcon(resources, kLargeIconType);
	if (icon == NULL)
		return true;
	std::string path = folder + "/" + name;
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

// Everything the page shows, and what went wrong on the way.
struct Gallery {
	GalleryItem source;
	// One for each add-on of the folder, in its order.
	std::vector<GalleryItem> items;
	size_t iconsFailed = 0;
};

// Runs the filter of `entry` on `source` under a capture of standard output, recording what it
// printed and why it gave no image in `item`; when it gave one, times kTimedRuns runs more.
void MeasureItem(const AddonEntry& entry, BBitmap& source, const std::string& input,
                 GalleryItem& item)
{
	{
		StdoutCapture capture;
		std::unique_ptr<BBitmap> result = RunFilter(entry, source, input, item.error);
		item.diagnostics = capture.Finish();
		if (result == NULL)
			return;
	}
	if (TimeFilter(entry, source, input, kTimedRuns, item.seconds, item.error))
		item.timedRuns = kTimedRuns;
}

// Runs the filter of `entry` on `source` once more for the image the gallery shows; what it
// prints was seen when it was measured.
std::unique_ptr<BBitmap> RunItemFilter(const AddonEntry& entry, BBitmap& source,
                                       const std::string& input, GalleryItem& item)
{
	StdoutCapture capture;
	std::unique_ptr<BBitmap> result = RunFilter(entry, source, input, item.error);
	capture.Discard();
	return result;
}

// Measures every filter, then writes the source and runs every filter that worked again,
// handing each result to the pool to be written while the next filter runs.
void MakeItems(const AddonFolder& folder, BBitmap& source, const GalleryArguments& arguments,
               const HostOptions& options, Gallery& gallery)
{
	const std::string& outputFolder = arguments.outputFolder;
	const std::string& input = arguments.input;
	const std::vector<AddonEntry>& entries = folder.Entries();
	// Sized once: the workers fill in their items while later ones are run.
	gallery.items.resize(entries.size());
	for (size_t i = 0; i < entries.size(); i++) {
		const AddonEntry& entry = entries[i];
		GalleryItem& item = gallery.items[i];
		item.title = entry.name;
		item.detail = entry.fileName + ", id " + FormatFilterId(entry.id);
		std::string iconError;
		if (!WriteItemIcon(entry.path, outputFolder, IconName(entry), options, item, iconError)) {
			ReportError(iconError);
			gallery.iconsFailed++;
		}
		MeasureItem(entry, source, input, item);
	}

	int jobs = arguments.jobs > 0 ? arguments.jobs : WorkerPool::ProcessorCount();
	WorkerPool pool(jobs, jobs);
	pool.Submit([&source, &outputFolder, &options, &gallery] {
		WriteItemImage(source, outputFolder, kSourceImage, kSourcePreview, options, gallery.source);
	});
	for (size_t i = 0; i < entries.size(); i++) {
		const AddonEntry& entry = entries[i];
		GalleryItem& item = gallery.items[i];
		if (!item.error.empty())
			continue;
		std::unique_ptr<BBitmap> result = RunItemFilter(entry, source, input, item);
		if (result == NULL)
			continue;
		DescribeBitmap(*result, item);
		std::shared_ptr<BBitmap> shared(std::move(result));
		std::string name = ResultName(entry);
		std::string previewStem = PreviewStem(entry);
		pool.Submit([shared, &outputFolder, name, previewStem, &options, &item] {
			WriteItemImage(*shared, outputFolder, name, previewStem, options, item);
		});
	}
	pool.Wait();
}

// Reports what went wrong, writes the page and returns the exit status.
int FinishGallery(const AddonFolder& folder, const std::string& outputFolder,
                  const HostOptions& options, const Gallery& gallery)
{
	size_t withoutImage = 0;
	for (const GalleryItem& item : gallery.items) {
		if (item.error.empty())
			continue;
		ReportError(item.error);
		withoutImage++;
	}
	if (!gallery.source.error.empty())
		ReportError(gallery.source.error);

	std::string page = outputFolder + "/" + kPage;
	std::string error;
	if (!WriteGalleryPage(page, gallery.source, gallery.items, options.write.existing, error)) {
		ReportError(error);
		return kExitSomeFailed;
	}
	ReportError(page + ": " + std::to_string(gallery.items.size() - withoutImage) + " of " +
	            std::to_string(gallery.items.size()) + " filters produced an image");
	bool complete = withoutImage == 0 && gallery.iconsFailed == 0 && gallery.source.error.empty() &&
	                !folder.ProblemsFail(FolderUse::kEveryAddon);
	return complete ? kExitSuccess : kExitSomeFailed;
}

// Checks every file the gallery may write before anything is done: a gallery is written whole
// or not at all, so one output that may not be written refuses it.
bool ClaimOutputs(const AddonFolder& folder, const GalleryArguments& arguments,
                  const HostOptions& options)
{
	std::vector<std::string> names = {kSourceImage, kPage};
	std::vector<std::string> previewStems = {kSourcePreview};
	for (const AddonEntry& entry : folder.Entries()) {
		names.push_back(IconName(entry));
		names.push_back(ResultName(entry));
		previewStems.push_back(PreviewStem(entry));
	}
	// Which kind a preview takes is known only once its image is: it may take either name.
	for (const std::string& stem : previewStems) {
		for (const char* extension : kPreviewExtensions)
			names.push_back(stem + "." + extension);
	}
	OutputClaims claims(options.write.existing);
	claims.AddInput(arguments.input);
	bool claimed = true;
	for (const std::string& name : names) {
		std::string error;
		if (!claims.Claim(arguments.outputFolder + "/" + name, error)) {
			ReportError(error);
			claimed = false;
		}
	}
	return claimed;
}

int RunGallery(const GalleryArguments& arguments, const HostOptions& sharedOptions)
{
	RestartForImages({arguments.input}, false);
	HostOptions options = sharedOptions;
	options.write.existing = arguments.overwrite ? Existing::kReplace : Existing::kKeep;
	AddonFolder folder;
	if (!ScanAndReport(folder, options) || !MakeOutputFolder(arguments.outputFolder, "output") ||
	    !ClaimOutputs(folder, arguments, options))
		return kExitSomeFailed;

	const std::string& input = arguments.input;
	std::string error;
	// The gallery is one image and its results: it fits the budget or is refused.
	MemoryBudget budget(options.maxMemory > 0 ? options.maxMemory : MemoryBudget::DefaultSize());
	MemoryReservation reservation(&budget);
	ImageLimits limits = options.limits;
	limits.admit = [&reservation](int64 width, int64 height, std::string& why) {
		return reservation.AcquireFor(width, height, why);
	};
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> source = ReadImage(input, limits, error, &metadata);
	if (source == NULL) {
		ReportError(error);
		return kExitSomeFailed;
	}
	if (!options.quiet)
		ReportNotes(input, metadata.notes);

	Gallery gallery;
	gallery.source.title = std::filesystem::path(input).filename().string();
	gallery.source.detail = "source: " + input;
	DescribeBitmap(*source, gallery.source);
	MakeItems(folder, *source, arguments, options, gallery);
	return FinishGallery(folder, arguments.outputFolder, options, gallery);
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
	AddOverwriteFlag(*command, arguments->overwrite);
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunGallery(*arguments, options); };
	});
}
