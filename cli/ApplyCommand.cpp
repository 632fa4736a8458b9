// quimbel apply: one filter on one file, or on a batch of files with a pool of workers.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterRun.h"
#include "FolderScan.h"
#include "ImageFile.h"
#include "MemoryBudget.h"
#include "Messages.h"
#include "OutputPaths.h"
#include "Progress.h"
#include "WorkerPool.h"

namespace {

struct ApplyArguments {
	std::string filter;
	std::vector<std::string> files;
	std::string outputFolder;
	int jobs = 0;
	bool overwrite = false;
	std::string format;
	bool strip = false;
};

// As an input, standard input; as an output, standard output.
const char* const kStandardStream = "-";

// The image standard output is to receive. From the moment it is made until the program ends,
// whatever else the program prints on standard output (an add-on's lines) goes to standard error
// instead, so that nothing but the image reaches the stream.
class StandardOutputImage {
public:
	StandardOutputImage() : fImage(NULL)
	{
		fflush(stdout);
		int image = dup(STDOUT_FILENO);
		if (image < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
			return;
		fImage = fdopen(image, "wb");
	}
	~StandardOutputImage()
	{
		if (fImage != NULL)
			fclose(fImage);
	}

	bool Write(const BBitmap& bitmap, const WriteOptions& options, const ImageMetadata* metadata,
	           std::string& error)
	{
		if (fImage == NULL) {
			error = std::string("standard output: cannot write: ") + strerror(errno);
			return false;
		}
		WriteOptions streamOptions = options;
		if (streamOptions.kind == ImageKind::kUnknown)
			streamOptions.kind = ImageKind::kPng;
		return WriteImageStream(bitmap, fImage, "standard output", streamOptions, error, metadata);
	}

private:
	FILE* fImage;
};

std::unique_ptr<BBitmap> ReadInput(const std::string& input, const ImageLimits& limits,
                                   std::string& error, ImageMetadata& metadata)
{
	if (input == kStandardStream)
		return ReadImageStream(stdin, "standard input", limits, error, &metadata);
	return ReadImage(input, limits, error, &metadata);
}

// Where the notes on reading a file go: straight to standard error, or past the progress bar.
typedef std::function<void(const std::string& label, const std::vector<std::string>& notes)>
    NoteSink;

// Reads `input`, runs the filter and writes `output` (or `standardOutput`, when given), which
// OutputClaims has let through; on failure sets `error`, naming the file, and leaves no output
// behind.
bool ApplyToFile(const AddonEntry& entry, const std::string& input, const std::string& output,
                 const HostOptions& options, MemoryBudget& budget,
                 StandardOutputImage* standardOutput, const NoteSink& notes, std::string& error)
{
	// Held until the result is written: the source and the result are what the budget counts.
	MemoryReservation reservation(&budget);
	ImageLimits limits = options.limits;
	limits.admit = [&reservation](int64 width, int64 height, std::string& why) {
		return reservation.AcquireFor(width, height, why);
	};
	// The colour profile goes on with the pixels, unless the user strips it.
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> source = ReadInput(input, limits, error, metadata);
	if (source == NULL)
		return false;
	if (!options.quiet && !metadata.notes.empty())
		notes(input == kStandardStream ? "standard input" : input, metadata.notes);
	std::unique_ptr<BBitmap> result = RunFilter(entry, *source, input, error);
	if (result == NULL)
		return false;
	source.reset();
	const ImageMetadata* kept = options.strip ? NULL : &metadata;
	if (standardOutput != NULL)
		return standardOutput->Write(*result, options.write, kept, error);
	return WriteImage(*result, output, options.write, error, kept);
}

int ApplyToOne(const AddonEntry& entry, const std::string& input, const std::string& output,
               const HostOptions& options, MemoryBudget& budget)
{
	std::string error;
	std::unique_ptr<StandardOutputImage> standardOutput;
	if (output == kStandardStream) {
		standardOutput.reset(new StandardOutputImage);
	} else {
		OutputClaims claims(options.write.existing);
		if (input != kStandardStream)
			claims.AddInput(input);
		if (!claims.Claim(output, error)) {
			ReportError(error);
			return kExitSomeFailed;
		}
	}
	if (!ApplyToFile(entry, input, output, options, budget, standardOutput.get(), ReportNotes,
	                 error)) {
		ReportError(error);
		return kExitSomeFailed;
	}
	return kExitSuccess;
}

int ApplyToBatch(const AddonEntry& entry, const ApplyArguments& arguments,
                 const HostOptions& options, MemoryBudget& budget)
{
	if (!MakeOutputFolder(arguments.outputFolder, "output"))
		return kExitSomeFailed;

	std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
	const std::vector<std::string>& inputs = arguments.files;
	int jobs = arguments.jobs > 0 ? arguments.jobs : WorkerPool::ProcessorCount();
	jobs = std::min<int>(jobs, inputs.size());

	Progress progress(inputs.size(), options.quiet);
	{
		WorkerPool pool(jobs, jobs);
		OutputClaims claims(options.write.existing);
		for (const std::string& input : inputs)
			claims.AddInput(input);
		// Each output takes its input's file name; a second input with the same name would
		// overwrite the first one's result, so it is refused.
		std::map<std::string, std::string> named;
		for (const std::string& input : inputs) {
			std::string name = std::filesystem::path(input).filename().string();
			std::string output = arguments.outputFolder + "/" + name;
			auto [earlier, isNew] = named.emplace(name, input);
			std::string error;
			if (input == kStandardStream)
				error = "-: standard input is read alone, not in a batch";
			else if (!isNew)
				error = input + ": has the same file name as " + earlier->second +
				        "; both would be written to " + output;
			if (!error.empty() || !claims.Claim(output, error)) {
				progress.Report(error);
				progress.Advance(false);
				continue;
			}
			pool.Submit([&entry, &options, &budget, &progress, input, output] {
				progress.Begin(input);
				std::string error;
				NoteSink notes = [&progress](const std::string& label,
				                             const std::vector<std::string>& lines) {
					for (const std::string& line : lines)
						progress.Report(label + ": " + line);
				};
				bool written =
				    ApplyToFile(entry, input, output, options, budget, NULL, notes, error);
				if (!written)
					progress.Report(error);
				progress.Advance(written);
			});
		}
		pool.Wait();
	}
	progress.Finish();

	double seconds =
	    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	char counts[128];
	snprintf(counts, sizeof(counts), "%d of %zu files written to ", progress.Succeeded(),
	         inputs.size());
	char summary[128];
	snprintf(summary, sizeof(summary), ", %d failed (%.2f s)", progress.Failed(), seconds);
	ReportError(counts + arguments.outputFolder + summary);
	return progress.Failed() == 0 ? kExitSuccess : kExitSomeFailed;
}

int RunApply(const ApplyArguments& arguments, const HostOptions& sharedOptions)
{
	HostOptions options = sharedOptions;
	options.write.existing = arguments.overwrite ? Existing::kReplace : Existing::kKeep;
	options.strip = arguments.strip;
	if (arguments.outputFolder.empty() && arguments.files.size() != 2) {
		fprintf(stderr, "quimbel apply: give INPUT OUTPUT, or INPUT... -o DIR\n");
		return kExitUsage;
	}
	if (arguments.outputFolder == kStandardStream && arguments.files.size() != 1) {
		fprintf(stderr, "quimbel apply: -o - writes one image to standard output: give one "
		                "INPUT\n");
		return kExitUsage;
	}
	if (!arguments.format.empty()) {
		options.write.kind = ImageKindOfFormat(arguments.format);
		if (!ImageKindWritable(options.write.kind)) {
			ReportError("cannot write format \"" + arguments.format +
			            "\"; give png, jpeg, webp, tiff or avif");
			return kExitUsage;
		}
	}

	AddonFolder folder;
	if (!ScanAndReport(folder, options))
		return kExitSomeFailed;
	std::string error;
	std::vector<std::string> choices;
	const AddonEntry* entry = folder.Match(arguments.filter, error, choices);
	if (entry == NULL) {
		ReportError(error, choices);
		return kExitUsage;
	}

	MemoryBudget budget(options.maxMemory > 0 ? options.maxMemory : MemoryBudget::DefaultSize());
	if (arguments.outputFolder.empty())
		return ApplyToOne(*entry, arguments.files[0], arguments.files[1], options, budget);
	if (arguments.outputFolder == kStandardStream)
		return ApplyToOne(*entry, arguments.files[0], kStandardStream, options, budget);
	return ApplyToBatch(*entry, arguments, options, budget);
}

} // namespace

void AddApplyCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<ApplyArguments>();
	CLI::App* command = app.add_subcommand(
	    "apply", "Apply one filter: to INPUT, writing OUTPUT; or to every INPUT, writing into DIR");
	command->add_option("FILTER", arguments->filter, "Display name, file name or id of the filter")
	    ->required();
	command
	    ->add_option("FILES", arguments->files,
	                 "INPUT OUTPUT, or INPUT... with -o DIR; - is standard input or output")
	    ->required();
	command->add_option("-o,--output", arguments->outputFolder,
	                    "Folder for the results of a batch, each keeping its input's file name; "
	                    "- writes the one result to standard output");
	command->add_option("--format", arguments->format,
	                    "Write png, jpeg, webp, tiff or avif, whatever the output's name "
	                    "(standard output: png)");
	command->add_option("-j,--jobs", arguments->jobs, "Files worked on at once (default: cores)")
	    ->check(CLI::Range(1, 1024));
	AddOverwriteFlag(*command, arguments->overwrite);
	command->add_flag("--strip", arguments->strip,
	                  "Leave out what the input carries besides its pixels (its colour profile)");
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunApply(*arguments, options); };
	});
}
