// quimbel apply: a filter, or a chain of them, on one file, or on a batch of files with a pool of
// workers.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "BatchInputs.h"
#include "Commands.h"
#include "FilterChain.h"
#include "FolderScan.h"
#include "ImageFile.h"
#include "MemoryBudget.h"
#include "Messages.h"
#include "OutputNaming.h"
#include "OutputPaths.h"
#include "OutputPlan.h"
#include "ProcessSetup.h"
#include "Progress.h"
#include "WorkerPool.h"

namespace {

struct ApplyArguments {
	std::string filter;
	// The filters run after `filter`, in order.
	std::vector<std::string> then;
	std::vector<std::string> files;
	// -o: a folder, a template, or - for standard output.
	std::string output;
	std::string filesFrom;
	bool nulSeparated = false;
	bool recursive = false;
	bool dryRun = false;
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

// Reads `input`, runs the chain and writes `output` (or `standardOutput`, when given), which
// the plan has let through, with `makeFolder` making its folder first; on failure sets `error`,
// naming the file, and leaves no output behind.
bool ApplyToFile(const FilterChain& chain, const std::string& input, const std::string& output,
                 bool makeFolder, const HostOptions& options, MemoryBudget& budget,
                 StandardOutputImage* standardOutput, const NoteSink& notes, std::string& error)
{
	// Held until the result is written: the source and the result are what the budget counts.
	MemoryReservation reservation(&budget);
	ImageLimits limits = options.limits;
	limits.admit = [&reservation](int64 width, int64 height, std::string& why) {
		return reservation.AcquireFor(width, height, why);
	};
	// The first filter's worker maps the image's memory while the image is decoded into it.
	limits.allocated = [&chain](const BBitmap& bitmap) { chain.Prepare(bitmap); };
	// The colour profile goes on with the pixels, unless the user strips it.
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> source = ReadInput(input, limits, error, metadata);
	if (source == NULL)
		return false;
	if (!options.quiet && !metadata.notes.empty())
		notes(input == kStandardStream ? "standard input" : input, metadata.notes);
	std::unique_ptr<BBitmap> result = chain.Run(std::move(source), input, error);
	if (result == NULL)
		return false;
	const ImageMetadata* kept = options.strip ? NULL : &metadata;
	if (standardOutput != NULL)
		return standardOutput->Write(*result, options.write, kept, error);
	std::string folder = std::filesystem::path(output).parent_path().string();
	if (makeFolder && !folder.empty() && !CreateFolder(folder, "output", error))
		return false;
	return WriteImage(*result, output, options.write, error, kept);
}

// What `apply` is to do, decided before any file is read or written.
struct ApplyWork {
	FilterChain chain;
	// The outputs to write, and those refused.
	OutputPlan plan;
	// Inputs refused before an output was chosen for them.
	std::vector<std::string> refusedInputs;

	explicit ApplyWork(const HostOptions& options)
	    : plan(options.write.existing, options.write.kind)
	{
	}

	size_t Refusals() const { return refusedInputs.size() + plan.Refused().size(); }
};

// The inputs of a batch: those named, then those of --files-from. Returns false, having said
// why, when the list cannot be read.
bool GatherInputs(const ApplyArguments& arguments, const HostOptions& options, BatchInputs& inputs)
{
	for (const std::string& file : arguments.files)
		inputs.Add(file);
	if (!arguments.filesFrom.empty()) {
		bool fromStandardInput = arguments.filesFrom == kStandardStream;
		FILE* list = fromStandardInput ? stdin : fopen(arguments.filesFrom.c_str(), "re");
		if (list == NULL) {
			ReportError(arguments.filesFrom +
			            ": cannot open the list of files: " + strerror(errno));
			return false;
		}
		std::string error;
		bool listed =
		    inputs.AddListed(list, fromStandardInput ? "standard input" : arguments.filesFrom,
		                     arguments.nulSeparated ? '\0' : '\n', error);
		if (!fromStandardInput)
			fclose(list);
		if (!listed) {
			ReportError(error);
			return false;
		}
	}
	if (!options.quiet) {
		for (const std::string& note : inputs.Notes())
			ReportError(note);
	}
	return true;
}

// Plans the outputs of every input: the named OUTPUT of one, or what -o makes of each.
void PlanOutputs(const ApplyArguments& arguments, const BatchInputs& inputs,
                 const OutputNaming& naming, ApplyWork& work)
{
	work.refusedInputs = inputs.Refused();
	for (const BatchInput& input : inputs.Inputs()) {
		if (input.path != kStandardStream)
			work.plan.AddInput(input.path);
	}
	bool batch = !arguments.output.empty();
	std::string filter = work.chain.FileNamePart();
	for (const BatchInput& input : inputs.Inputs()) {
		if (!batch) {
			work.plan.Plan(input.path, arguments.files[1]);
			continue;
		}
		if (input.path == kStandardStream) {
			work.refusedInputs.push_back("-: standard input is read alone, not in a batch");
			continue;
		}
		work.plan.Plan(input.path, naming.OutputFor(input, filter));
	}
}

void ReportRefusals(const ApplyWork& work)
{
	for (const std::string& refused : work.refusedInputs)
		ReportError(refused);
	for (const std::string& refused : work.plan.Refused())
		ReportError(refused);
}

// Prints what a real run would write, one "input -> output" line each, and the refusals it
// would make; writes nothing.
int DryRun(const ApplyWork& work)
{
	for (const PlannedOutput& planned : work.plan.Outputs())
		printf("%s -> %s\n", Printable(planned.input).c_str(), Printable(planned.output).c_str());
	fflush(stdout);
	ReportRefusals(work);
	return work.Refusals() == 0 ? kExitSuccess : kExitSomeFailed;
}

int ApplyToOne(const ApplyWork& work, const std::string& input, const std::string& output,
               const HostOptions& options, MemoryBudget& budget)
{
	std::unique_ptr<StandardOutputImage> standardOutput;
	if (output == kStandardStream)
		standardOutput.reset(new StandardOutputImage);
	std::string error;
	if (!ApplyToFile(work.chain, input, output, false, options, budget, standardOutput.get(),
	                 ReportNotes, error)) {
		ReportError(error);
		return kExitSomeFailed;
	}
	return kExitSuccess;
}

int ApplyToBatch(const ApplyWork& work, const ApplyArguments& arguments, const OutputNaming& naming,
                 const HostOptions& options, MemoryBudget& budget)
{
	if (!naming.IsTemplate() && !MakeOutputFolder(arguments.output, "output"))
		return kExitSomeFailed;

	std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
	const std::vector<PlannedOutput>& outputs = work.plan.Outputs();
	size_t total = outputs.size() + work.Refusals();
	int jobs = arguments.jobs > 0 ? arguments.jobs : WorkerPool::ProcessorCount();
	jobs = std::max(1, std::min<int>(jobs, outputs.size()));

	Progress progress(total, options.quiet);
	for (const std::string& refused : work.refusedInputs) {
		progress.Report(refused);
		progress.Advance(false);
	}
	for (const std::string& refused : work.plan.Refused()) {
		progress.Report(refused);
		progress.Advance(false);
	}
	{
		WorkerPool pool(jobs, jobs);
		for (const PlannedOutput& planned : outputs) {
			pool.Submit([&work, &options, &budget, &progress, planned] {
				progress.Begin(planned.input);
				std::string error;
				NoteSink notes = [&progress](const std::string& label,
				                             const std::vector<std::string>& lines) {
					for (const std::string& line : lines)
						progress.Report(label + ": " + line);
				};
				bool written = ApplyToFile(work.chain, planned.input, planned.output, true, options,
				                           budget, NULL, notes, error);
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
	snprintf(counts, sizeof(counts), "%d of %zu files written to ", progress.Succeeded(), total);
	char summary[128];
	snprintf(summary, sizeof(summary), ", %d failed (%.2f s)", progress.Failed(), seconds);
	ReportError(counts + arguments.output + summary);
	return progress.Failed() == 0 ? kExitSuccess : kExitSomeFailed;
}

// Checks the command line as far as it can be without the add-ons or the inputs; returns 0 when
// it holds, otherwise the status to exit with, having said why.
int CheckArguments(const ApplyArguments& arguments, HostOptions& options, OutputNaming& naming)
{
	bool listed = !arguments.filesFrom.empty() || arguments.recursive;
	bool noInput = arguments.files.empty() && arguments.filesFrom.empty();
	if (noInput || (arguments.output.empty() && (listed || arguments.files.size() != 2))) {
		fprintf(stderr, "quimbel apply: give INPUT OUTPUT, or INPUT... -o DIR (or -o TEMPLATE); "
		                "-r and --files-from write with -o\n");
		return kExitUsage;
	}
	if (arguments.output == kStandardStream && (listed || arguments.files.size() != 1)) {
		fprintf(stderr, "quimbel apply: -o - writes one image to standard output: give one "
		                "INPUT\n");
		return kExitUsage;
	}
	if (arguments.nulSeparated && arguments.filesFrom.empty()) {
		fprintf(stderr, "quimbel apply: -0 reads the names of --files-from: give that too\n");
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
	std::string error;
	if (!arguments.output.empty() && arguments.output != kStandardStream &&
	    !naming.Parse(arguments.output, arguments.format, error)) {
		ReportError(error);
		return kExitUsage;
	}
	return 0;
}

// Finds the filter and each of --then; returns 0, or the status to exit with.
int MatchFilters(const ApplyArguments& arguments, const AddonFolder& folder, FilterChain& chain)
{
	std::vector<std::string> names = {arguments.filter};
	names.insert(names.end(), arguments.then.begin(), arguments.then.end());
	for (const std::string& name : names) {
		std::string error;
		std::vector<std::string> choices;
		const AddonEntry* entry = folder.Match(name, error, choices);
		if (entry == NULL) {
			ReportError(error, choices);
			return kExitUsage;
		}
		chain.Add(entry);
	}
	return 0;
}

int RunApply(const ApplyArguments& arguments, const HostOptions& sharedOptions)
{
	RestartForImages(arguments.files, !arguments.filesFrom.empty());
	HostOptions options = sharedOptions;
	options.write.existing = arguments.overwrite ? Existing::kReplace : Existing::kKeep;
	options.strip = arguments.strip;
	OutputNaming naming;
	if (int status = CheckArguments(arguments, options, naming))
		return status;

	BatchInputs inputs(arguments.recursive);
	if (arguments.output.empty() || arguments.output == kStandardStream)
		inputs.Add(arguments.files[0]);
	else if (!GatherInputs(arguments, options, inputs))
		return kExitSomeFailed;

	AddonFolder folder;
	if (!ScanAndReport(folder, options))
		return kExitSomeFailed;
	ApplyWork work(options);
	if (int status = MatchFilters(arguments, folder, work.chain))
		return status;

	bool toStandardOutput = arguments.output == kStandardStream ||
	                        (arguments.output.empty() && arguments.files[1] == kStandardStream);
	if (toStandardOutput) {
		for (const std::string& refused : inputs.Refused())
			ReportError(refused);
		if (!inputs.Refused().empty())
			return kExitSomeFailed;
		if (arguments.dryRun) {
			printf("%s -> standard output\n", Printable(arguments.files[0]).c_str());
			return kExitSuccess;
		}
		MemoryBudget budget(options.maxMemory > 0 ? options.maxMemory
		                                          : MemoryBudget::DefaultSize());
		return ApplyToOne(work, arguments.files[0], kStandardStream, options, budget);
	}
	PlanOutputs(arguments, inputs, naming, work);
	if (arguments.dryRun)
		return DryRun(work);

	MemoryBudget budget(options.maxMemory > 0 ? options.maxMemory : MemoryBudget::DefaultSize());
	if (!arguments.output.empty())
		return ApplyToBatch(work, arguments, naming, options, budget);
	if (work.Refusals() > 0) {
		ReportRefusals(work);
		return kExitSomeFailed;
	}
	return ApplyToOne(work, arguments.files[0], arguments.files[1], options, budget);
}

} // namespace

void AddApplyCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<ApplyArguments>();
	CLI::App* command = app.add_subcommand(
	    "apply", "Apply a filter, or a chain of them: to INPUT, writing OUTPUT; or to every INPUT, "
	             "writing as -o says");
	command->add_option("FILTER", arguments->filter, "Display name, file name or id of the filter")
	    ->required();
	command->add_option("FILES", arguments->files,
	                    "INPUT OUTPUT, or INPUT... with -o; - is standard input or output");
	command
	    ->add_option("--then", arguments->then,
	                 "Run this filter too, on what the filters before made; repeat for more")
	    ->expected(1)
	    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
	    ->allow_extra_args(false);
	command->add_option(
	    "-o,--output", arguments->output,
	    "Where a batch's results go: a folder, each keeping its input's file name, or a template "
	    "such as 'out/{dir}/{stem}-neg.{ext}' ({stem}, {ext}, {dir}, {filter}); - writes the one "
	    "result to standard output");
	command->add_option("--format", arguments->format,
	                    "Write png, jpeg, webp, tiff or avif, whatever the output's name (standard "
	                    "output: png); in a batch, also the outputs' extension");
	command->add_flag("-r,--recursive", arguments->recursive,
	                  "Take the images in folders given as inputs, and below, keeping their layout "
	                  "under -o");
	command->add_option("--files-from", arguments->filesFrom,
	                    "Also take the inputs named in this file, one a line (- for standard "
	                    "input)");
	command->add_flag("-0,--null", arguments->nulSeparated,
	                  "The names of --files-from end with NUL, not newline (find -print0)");
	command->add_flag("-n,--dry-run", arguments->dryRun,
	                  "Print \"input -> output\" for each file that would be written, and refuse "
	                  "what would be refused, writing nothing");
	command->add_option("-j,--jobs", arguments->jobs, "Files worked on at once (default: cores)")
	    ->check(CLI::Range(1, 1024));
	AddOverwriteFlag(*command, arguments->overwrite);
	command->add_flag("--strip", arguments->strip,
	                  "Leave out what the input carries besides its pixels (its colour profile)");
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunApply(*arguments, options); };
	});
}
