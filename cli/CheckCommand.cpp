// quimbel check: tries each add-on file against the add-on contract, one line per check, always
// in worker processes: an add-on that crashes or hangs fails the check at hand, and the next
// check starts a new worker.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <SharedBitmap.h>

#include "AddonWorkers.h"
#include "Commands.h"
#include "ExportedSymbols.h"
#include "FilterRun.h"
#include "FolderScan.h"
#include "Icon.h"
#include "ImageFile.h"
#include "Messages.h"
#include "PlatformResources.h"
#include "ResourceReader.h"
#include "WorkerProtocol.h"

namespace {

// A worker takes this long to load an add-on or run it on one bitmap unless --timeout says
// otherwise: the test bitmaps are small.
const int kCheckTimeoutSeconds = 10;

// How AddonWorker::Run() says that the filter returned NULL, which the contract allows.
const char* const kNoImage = "produced no image";

// The symbol every add-on exports, and the most extra ones a failure names.
const char* const kEntryPoint = "instantiate_filter";
const size_t kExtraNamed = 5;

struct CheckArguments {
	std::vector<std::string> addons;
};

// Prints the outcome of each check and remembers whether all of them passed.
class Report {
public:
	void Passed(const char* check) { printf("  passed: %s\n", check); }
	void Failed(const char* check, const std::string& reason)
	{
		printf("  failed: %s: %s\n", check, Printable(reason).c_str());
		fAllPassed = false;
	}
	void Outcome(const char* check, const std::string& reason)
	{
		if (reason.empty())
			Passed(check);
		else
			Failed(check, reason);
	}
	bool AllPassed() const { return fAllPassed; }

private:
	bool fAllPassed = true;
};

// One of the bitmaps the filter is tried on, and how messages name it.
struct TestBitmap {
	std::string label;
	std::unique_ptr<BBitmap> bitmap;
};

const char* SpaceName(color_space space)
{
	return space == B_RGBA32 ? "B_RGBA32" : "B_RGB32";
}

// A bitmap of `bounds` whose pixels follow a pattern that differs from row to row and channel to
// channel; opaque in B_RGB32, as a read image is.
std::unique_ptr<BBitmap> PatternBitmap(BRect bounds, color_space space)
{
	std::unique_ptr<BBitmap> bitmap(new (std::nothrow) BBitmap(bounds, space));
	if (bitmap == NULL || bitmap->InitCheck() != B_OK)
		return NULL;
	uint8* bits = static_cast<uint8*>(bitmap->Bits());
	uint32 seed = 0x9E3779B9u;
	for (int32 i = 0; i < bitmap->BitsLength(); i++) {
		seed = seed * 1664525u + 1013904223u;
		bits[i] = (space == B_RGB32 && i % 4 == 3) ? 255 : (uint8)(seed >> 24);
	}
	return bitmap;
}

// The photograph the filters are also checked on, installed with the program in
// share/quimbel/ beside its bin/ (the build tree has the same layout).
std::string SamplePhotographPath()
{
	char buffer[PATH_MAX];
	ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
	if (length <= 0)
		return "chelsea.png";
	buffer[length] = '\0';
	return (std::filesystem::path(buffer).parent_path() / "../share/quimbel/chelsea.png")
	    .lexically_normal()
	    .string();
}

// The bitmaps every add-on is tried on: tiny, thin and odd sizes, bounds away from the origin,
// each in both 32-bit spaces, and the sample photograph when it can be read.
std::vector<TestBitmap> MakeTestBitmaps(const HostOptions& options)
{
	static const BRect kBounds[] = {BRect(0, 0, 0, 0), BRect(0, 0, 0, 6), BRect(0, 0, 6, 0),
	                                BRect(0, 0, 32, 16), BRect(10, 20, 42, 36)};
	std::vector<TestBitmap> bitmaps;
	for (color_space space : {B_RGB32, B_RGBA32}) {
		for (BRect bounds : kBounds) {
			std::string label = "a " + std::to_string((int)bounds.Width() + 1) + " x " +
			                    std::to_string((int)bounds.Height() + 1) + " " + SpaceName(space) +
			                    " bitmap";
			if (bounds.left != 0 || bounds.top != 0) {
				label += " at (" + std::to_string((int)bounds.left) + ", " +
				         std::to_string((int)bounds.top) + ")";
			}
			std::unique_ptr<BBitmap> bitmap = PatternBitmap(bounds, space);
			if (bitmap != NULL)
				bitmaps.push_back({label, std::move(bitmap)});
		}
	}
	std::string error;
	std::unique_ptr<BBitmap> photograph = ReadImage(SamplePhotographPath(), options.limits, error);
	if (photograph != NULL)
		bitmaps.push_back({"the sample photograph", std::move(photograph)});
	else
		ReportError(error + "; the checks run on drawn bitmaps only");
	return bitmaps;
}

// A new bitmap with the layout and pixels of `source`.
std::unique_ptr<BBitmap> Copy(const BBitmap& source)
{
	std::unique_ptr<BBitmap> copy(new (std::nothrow) BBitmap(source.Bounds(), source.ColorSpace()));
	if (copy == NULL || copy->InitCheck() != B_OK || copy->BitsLength() != source.BitsLength())
		return NULL;
	memcpy(copy->Bits(), source.Bits(), source.BitsLength());
	return copy;
}

bool SameBitmaps(const BBitmap& one, const BBitmap& other)
{
	return one.Bounds() == other.Bounds() && one.ColorSpace() == other.ColorSpace() &&
	       one.BitsLength() == other.BitsLength() &&
	       memcmp(one.Bits(), other.Bits(), one.BitsLength()) == 0;
}

// The checks that need the add-on loaded, in their order: what the worker finds as it loads the
// add-on, then what its filter does on the test bitmaps.
const char* const kLoadedChecks[] = {
    "name is a terminated string",
    "spare is 0",
    "two calls give two distinct objects",
    "Run returns NULL or a new valid bitmap",
    "the source is left byte for byte unchanged",
    "Run twice gives the same bytes",
    "Run(NULL) gives NULL",
    "two threads at once give the same bytes as one",
};

// How two results of the same run differ ("the results differ"); empty when they do not.
std::string Differences(const BBitmap* one, const BBitmap* other)
{
	if ((one == NULL) != (other == NULL))
		return "one run gave an image, the other none";
	if (one == NULL)
		return "";
	if (one->Bounds() != other->Bounds() || one->ColorSpace() != other->ColorSpace())
		return "the results differ in size or colour space";
	return SameBitmaps(*one, *other) ? "" : "the results differ";
}

// Runs of one add-on, each in a worker that is alive: the one of the run before, or a new one
// when that one failed.
class CheckRuns {
public:
	CheckRuns(const std::string& path, const WorkerLimits& limits) : fPath(path), fLimits(limits) {}

	// Runs the filter on a writable copy of `source`, left in `copy` for the caller to compare,
	// with `twoThreads` on two threads at once. Returns false with `error` when the run failed:
	// the filter returning NULL is no failure.
	bool Run(const BBitmap& source, std::unique_ptr<BBitmap>& copy,
	         std::unique_ptr<BBitmap>& result, std::string& error, bool twoThreads = false)
	{
		result.reset();
		copy = Copy(source);
		if (copy == NULL) {
			error = "no memory for a copy of the source";
			return false;
		}
		if (!_Ready(error))
			return false;
		result = twoThreads ? fWorker->RunOnCopyOnTwoThreads(*copy, Discard, error)
		                    : fWorker->RunOnCopy(*copy, Discard, error);
		return result != NULL || error == kNoImage;
	}

	// Why running the filter on NULL does not give NULL; empty when it does.
	std::string RunOnNull()
	{
		std::string error;
		if (!_Ready(error))
			return error;
		std::unique_ptr<BBitmap> result = fWorker->RunOnNull(Discard, error);
		if (result != NULL)
			return "returned a bitmap";
		return error == kNoImage ? "" : error;
	}

private:
	// What the add-on prints would come between the report's lines.
	static void Discard(const char*, size_t) {}

	bool _Ready(std::string& error)
	{
		if (fWorker == NULL || !fWorker->IsAlive())
			fWorker = AddonWorker::Start(fPath, fLimits, Discard, error);
		return fWorker != NULL;
	}

	std::string fPath;
	WorkerLimits fLimits;
	std::unique_ptr<AddonWorker> fWorker;
};

// The checks on the filter's results: every result valid, the source unchanged, a second run on
// the same source, by the same filter object, giving the same bytes, and so two runs at once;
// and Run(NULL) giving NULL.
void CheckResults(const std::string& path, const WorkerLimits& limits,
                  const std::vector<TestBitmap>& bitmaps, Report& report)
{
	CheckRuns runs(path, limits);
	std::string invalid;
	std::string changed;
	std::string unstable;
	std::string concurrent;
	int compared = 0;
	for (const TestBitmap& test : bitmaps) {
		const std::string on = "on " + test.label + ": ";
		std::unique_ptr<BBitmap> copy;
		std::unique_ptr<BBitmap> first;
		std::string error;
		bool ran = runs.Run(*test.bitmap, copy, first, error);
		if (copy != NULL && changed.empty() && !SameBitmaps(*copy, *test.bitmap))
			changed = on + "wrote into its source";
		if (!ran) {
			if (invalid.empty())
				invalid = on + error;
			continue;
		}
		std::unique_ptr<BBitmap> second;
		ran = runs.Run(*test.bitmap, copy, second, error);
		if (copy != NULL && changed.empty() && !SameBitmaps(*copy, *test.bitmap))
			changed = on + "wrote into its source the second time";
		if (!ran) {
			if (invalid.empty())
				invalid = on + "the second time: " + error;
			if (unstable.empty())
				unstable = on + "the second run " + error;
			continue;
		}
		compared++;
		if (unstable.empty() && !Differences(first.get(), second.get()).empty())
			unstable = on + Differences(first.get(), second.get());
		if (!concurrent.empty())
			continue;
		std::unique_ptr<BBitmap> together;
		bool ranTogether = runs.Run(*test.bitmap, copy, together, error, true);
		if (copy != NULL && changed.empty() && !SameBitmaps(*copy, *test.bitmap))
			changed = on + "wrote into its source on two threads";
		if (!ranTogether)
			concurrent = on + error;
		else if (!Differences(first.get(), together.get()).empty())
			concurrent = on + "two runs at once gave other results than one run";
	}
	if (compared == 0 && unstable.empty())
		unstable = "no run gave a result to compare";
	if (compared == 0 && concurrent.empty())
		concurrent = "no run gave a result to compare";
	report.Outcome(kLoadedChecks[3], invalid);
	report.Outcome(kLoadedChecks[4], changed);
	report.Outcome(kLoadedChecks[5], unstable);
	report.Outcome(kLoadedChecks[6], runs.RunOnNull());
	report.Outcome(kLoadedChecks[7], concurrent);
}

// `message` without the path it may start with: the report names the file once, above its checks.
std::string WithoutPath(const std::string& path, const std::string& message)
{
	return message.rfind(path + ": ", 0) == 0 ? message.substr(path.size() + 2) : message;
}

// Whether the add-on exports its entry point and no other plain (C) name.
std::string ExportsProblem(const std::string& path)
{
	std::vector<std::string> names;
	std::string error;
	if (!ReadExportedSymbols(path, names, error))
		return error;
	bool found = false;
	std::vector<std::string> extra;
	for (const std::string& name : names) {
		if (name == kEntryPoint)
			found = true;
		else if (IsPlainName(name))
			extra.push_back(name);
	}
	std::sort(extra.begin(), extra.end());
	std::string problem;
	if (!found)
		problem = std::string(kEntryPoint) + " is missing";
	if (!extra.empty()) {
		problem += problem.empty() ? "also exports " : "; exports ";
		for (size_t i = 0; i < extra.size() && i < kExtraNamed; i++)
			problem += (i > 0 ? ", " : "") + extra[i];
		if (extra.size() > kExtraNamed)
			problem += " and " + std::to_string(extra.size() - kExtraNamed) + " more";
	}
	return problem;
}

// Whether the add-on's resources can be read and hold both of its icons.
std::string ResourcesProblem(const std::string& path)
{
	std::vector<Resource> resources;
	std::string error;
	if (!ReadResources(path, resources, error))
		return WithoutPath(path, error);
	std::string missing;
	if (FindIcon(resources, kLargeIconType) == NULL)
		missing = "no complete large icon";
	if (FindIcon(resources, kMiniIconType) == NULL)
		missing += missing.empty() ? "no complete mini icon" : " and no complete mini icon";
	return missing;
}

// Checks one add-on file; returns whether it passed every check.
bool CheckAddon(const std::string& path, const WorkerLimits& limits,
                const std::vector<TestBitmap>& bitmaps)
{
	printf("%s\n", Printable(path).c_str());
	Report report;
	std::string error;
	std::unique_ptr<AddonWorker> worker;
	if (IsLoadableObject(path, error))
		worker = AddonWorker::Start(path, limits, OutputSink(), error);
	bool loads = worker != NULL;
	uint32 loaded = loads ? worker->LoadedFlags() : 0;
	worker.reset();
	report.Outcome("loads", loads ? "" : WithoutPath(path, error));
	report.Outcome("exports instantiate_filter alone", ExportsProblem(path));
	report.Outcome("resources", ResourcesProblem(path));
	if (!loads) {
		for (const char* check : kLoadedChecks)
			report.Failed(check, "not tried: the add-on does not load");
		return false;
	}
	report.Outcome(kLoadedChecks[0], (loaded & kLoadedNameUnterminated) != 0
	                                     ? "no NUL within the 256 bytes of name"
	                                     : "");
	report.Outcome(kLoadedChecks[1], (loaded & kLoadedSpareSet) != 0 ? "spare is not 0" : "");
	std::string distinct;
	if ((loaded & kLoadedSameObjectTwice) != 0)
		distinct = "instantiate_filter gave the same object twice";
	else if ((loaded & kLoadedNoSecondObject) != 0)
		distinct = "the second call of instantiate_filter gave no object";
	report.Outcome(kLoadedChecks[2], distinct);
	CheckResults(path, limits, bitmaps, report);
	fflush(stdout);
	return report.AllPassed();
}

int RunCheck(const CheckArguments& arguments, const HostOptions& options, bool timeoutGiven)
{
	// The test bitmaps cross to the workers as shared memory, even under --in-process.
	BPrivate::SetSharedBitmaps(true);
	WorkerLimits limits = WorkerLimitsFor(options);
	if (!timeoutGiven)
		limits.timeoutSeconds = kCheckTimeoutSeconds;
	std::vector<TestBitmap> bitmaps = MakeTestBitmaps(options);
	bool allPassed = true;
	for (const std::string& path : arguments.addons)
		allPassed = CheckAddon(path, limits, bitmaps) && allPassed;
	return allPassed ? kExitSuccess : kExitSomeFailed;
}

} // namespace

void AddCheckCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<CheckArguments>();
	CLI::App* command = app.add_subcommand(
	    "check", "Check add-on files against the add-on contract, one line per check; always in "
	             "workers (not with --in-process), with a --timeout of 10 s unless given");
	command->add_option("ADDON", arguments->addons, "An add-on file")->required();
	const CLI::Option* timeout = app.get_option("--timeout");
	command->callback([&runner, &options, arguments, timeout] {
		runner = [&options, arguments, timeout] {
			return RunCheck(*arguments, options, timeout->count() > 0);
		};
	});
}
