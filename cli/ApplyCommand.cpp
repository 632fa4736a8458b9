// quimbel apply: one filter on one file, or on a batch of files with a pool of workers.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterRun.h"
#include "FolderScan.h"
#include "ImageFile.h"
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
};

// Reads `input`, runs the filter and writes `output`, which OutputClaims has let through; on
// failure sets `error`, naming the file, and leaves no output behind.
bool ApplyToFile(const AddonEntry& entry, const std::string& input, const std::string& output,
                 const HostOptions& options, std::string& error)
{
	std::unique_ptr<BBitmap> source = ReadImage(input, options.limits, error);
	if (source == NULL)
		return false;
	std::unique_ptr<BBitmap> result = RunFilter(entry, *source, input, error);
	if (result == NULL)
		return false;
	source.reset();
	return WriteImage(*result, output, options.write, error);
}

int ApplyToOne(const AddonEntry& entry, const ApplyArguments& arguments, const HostOptions& options)
{
	const std::string& input = arguments.files[0];
	const std::string& output = arguments.files[1];
	OutputClaims claims(options.write.existing);
	claims.AddInput(input);
	std::string error;
	if (!claims.Claim(output, error) || !ApplyToFile(entry, input, output, options, error)) {
		ReportError(error);
		return kExitSomeFailed;
	}
	return kExitSuccess;
}

int ApplyToBatch(const AddonEntry& entry, const ApplyArguments& arguments,
                 const HostOptions& options)
{
	if (!MakeOutputFolder(arguments.outputFolder, "output"))
		return kExitSomeFailed;

	std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
	const std::vector<std::string>& inputs = arguments.files;
	int jobs = arguments.jobs > 0 ? arguments.jobs : WorkerPool::ProcessorCount();
	jobs = std::min<int>(jobs, inputs.size());

	Progress progress(inputs.size());
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
			if (!isNew) {
				error = input + ": has the same file name as " + earlier->second +
				        "; both would be written to " + output;
			}
			if (!error.empty() || !claims.Claim(output, error)) {
				progress.Report(error);
				progress.Advance(false);
				continue;
			}
			pool.Submit([&entry, &options, &progress, input, output] {
				std::string error;
				bool written = ApplyToFile(entry, input, output, options, error);
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
	if (arguments.outputFolder.empty() && arguments.files.size() != 2) {
		fprintf(stderr, "quimbel apply: give INPUT OUTPUT, or INPUT... -o DIR\n");
		return kExitUsage;
	}

	AddonFolder folder;
	if (!ScanAndReport(folder, options.addonFolder))
		return kExitSomeFailed;
	std::string error;
	std::vector<std::string> choices;
	const AddonEntry* entry = folder.Match(arguments.filter, error, choices);
	if (entry == NULL) {
		ReportError(error, choices);
		return kExitUsage;
	}

	if (arguments.outputFolder.empty())
		return ApplyToOne(*entry, arguments, options);
	return ApplyToBatch(*entry, arguments, options);
}

} // namespace

void AddApplyCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<ApplyArguments>();
	CLI::App* command = app.add_subcommand(
	    "apply", "Apply one filter: to INPUT, writing OUTPUT; or to every INPUT, writing into DIR");
	command->add_option("FILTER", arguments->filter, "Display name, file name or id of the filter")
	    ->required();
	command->add_option("FILES", arguments->files, "INPUT OUTPUT, or INPUT... with -o DIR")
	    ->required();
	command->add_option("-o,--output", arguments->outputFolder,
	                    "Folder for the results of a batch; each keeps its input's file name");
	command->add_option("-j,--jobs", arguments->jobs, "Files worked on at once (default: cores)")
	    ->check(CLI::Range(1, 1024));
	AddOverwriteFlag(*command, arguments->overwrite);
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunApply(*arguments, options); };
	});
}
