// The process around the work: standard streams the caller closed, signals that end a batch
// while files are being written, and the allocator settings the program restarts with.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "CliSupport.h"
#include "ImageFile.h"

namespace {

class ClosedStream : public CliTest, public testing::WithParamInterface<int> {};

// With standard input, output or error closed, a batch writes exactly the files it writes with
// all three open: nothing printed meanwhile ends up inside an image.
TEST_P(ClosedStream, LeavesOutputsAsTheyWouldBe)
{
	// Brighten prints a line for each row of a black image; the damaged file makes an error
	// message.
	BBitmap black(BRect(0, 0, 63, 63), B_RGB32);
	std::string error;
	ASSERT_TRUE(WriteImage(black, Path("black.png"), WriteOptions(), error)) << error;
	WriteBytes(Path("damaged.png"), Bytes(20, 'x'));
	std::vector<std::string> inputs = {SamplePath("chelsea.png"), Path("black.png"),
	                                   SamplePath("logo.png"),    SamplePath("camera.png"),
	                                   Path("black.png"),         Path("damaged.png")};
	auto batch = [&](const std::string& folder) {
		std::vector<std::string> arguments = {"apply", "Brighten"};
		arguments.insert(arguments.end(), inputs.begin(), inputs.end());
		arguments.insert(arguments.end(), {"-o", Path(folder), "-j", "2"});
		return arguments;
	};

	RunResult normal = RunQuimbel(batch("normal"));
	RunSetup closed;
	closed.closed = {GetParam()};
	RunResult withClosed = RunQuimbelWith(batch("closed"), closed);

	EXPECT_EQ(normal.status, 1) << normal.err;
	EXPECT_EQ(withClosed.status, 1);
	std::vector<std::string> written = Entries(Path("normal"));
	ASSERT_EQ(written,
	          std::vector<std::string>({"black.png", "camera.png", "chelsea.png", "logo.png"}));
	EXPECT_EQ(Entries(Path("closed")), written);
	for (const std::string& name : written)
		EXPECT_TRUE(ReadBytes(Path("closed/" + name)) == ReadBytes(Path("normal/" + name))) << name;
}

std::string StreamName(const testing::TestParamInfo<int>& info)
{
	static const char* const kNames[] = {"Input", "Output", "Error"};
	return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Streams, ClosedStream, testing::Values(0, 1, 2), StreamName);

class EndingSignal : public CliTest, public testing::WithParamInterface<int> {
protected:
	// The names in `folder` that are temporary files.
	std::vector<std::string> Temporaries(const std::string& folder)
	{
		std::vector<std::string> found;
		for (const std::string& name : Entries(folder)) {
			if (name.rfind(".quimbel-", 0) == 0)
				found.push_back(name);
		}
		return found;
	}
};

// A signal that ends a batch while an output is being written removes the temporary file and
// ends the program with the signal's status; outputs already finished stay complete.
TEST_P(EndingSignal, RemovesFilesInFlight)
{
	std::string addons = MakeAddonFolder("addons", {FixturePath("LargeNoise")});
	std::string out = Path("out");
	std::filesystem::create_directories(out);
	pid_t child =
	    StartQuimbel({"--addons", addons, "apply", "Noise", SamplePath("chelsea.png"),
	                  SamplePath("camera.png"), SamplePath("logo.png"), "-o", out, "-j", "1"});
	ASSERT_GT(child, 0);

	// Waits for the first result in place and the second one on its way.
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
	bool inFlight = false;
	while (!inFlight && std::chrono::steady_clock::now() < deadline) {
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
		std::vector<std::string> names = Entries(out);
		inFlight = names.size() == 2 && Temporaries(out).size() == 1;
	}
	ASSERT_TRUE(inFlight) << "no output was being written";
	ASSERT_EQ(kill(child, GetParam()), 0);

	EXPECT_EQ(WaitForQuimbel(child), 128 + GetParam());
	EXPECT_TRUE(Temporaries(out).empty());
	std::vector<std::string> finished = Entries(out);
	ASSERT_EQ(finished.size(), 1u);
	std::unique_ptr<BBitmap> complete = ReadBack(out + "/" + finished[0]);
	ASSERT_NE(complete, nullptr);
	EXPECT_EQ(complete->Bounds(), BRect(0, 0, 3999, 3999));
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
	                         return std::string(sigabbrev_np(info.param));
                         });

// A run whose add-on hangs in Run, and what /proc tells of it and of its worker.
class HangingRun : public CliTest {
protected:
	// Starts quimbel on an add-on that never returns from Run, with `environment` added: on one
	// small picture, or on a folder of them, which may hold pictures of any size.
	pid_t Start(const std::vector<std::string>& environment = {}, bool folder = false)
	{
		std::string addons = MakeAddonFolder("addons", {FixturePath("misbehaving/HangInRun")});
		std::vector<std::string> arguments = {"--addons", addons, "apply", "Misbehaving"};
		if (folder) {
			std::filesystem::create_directories(Path("in"));
			std::filesystem::copy_file(SamplePath("logo.png"), Path("in/logo.png"));
			arguments.insert(arguments.end(), {"-r", Path("in"), "-o", Path("out")});
		} else {
			arguments.insert(arguments.end(), {SamplePath("logo.png"), Path("out.png")});
		}
		return StartQuimbel(arguments, environment);
	}

	// The first line of /proc/`pid`/`name` up to `delimiter`; empty when it cannot be read.
	static std::string ProcFile(pid_t pid, const std::string& name, char delimiter = '\n')
	{
		std::ifstream file("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
		std::string line;
		std::getline(file, line, delimiter);
		return line;
	}

	// The worker of `program` that is running the filter, its environment read while it runs
	// (NAME=value entries, as its memory holds them now); 0 when none is seen within a minute.
	static pid_t FindRunningWorker(pid_t program, std::vector<std::string>& environment)
	{
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
		while (std::chrono::steady_clock::now() < deadline) {
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
			std::istringstream children(
			    ProcFile(program, "task/" + std::to_string(program) + "/children"));
			pid_t worker;
			if (!(children >> worker) || ProcFile(worker, "comm") != "quimbel-worker" ||
			    ProcFile(worker, "stat").find(") R ") == std::string::npos)
				continue;
			environment = EnvironmentOf(worker);
			if (!environment.empty())
				return worker;
		}
		return 0;
	}

	// The environment the process `pid` was started with, as its memory holds it now.
	static std::vector<std::string> EnvironmentOf(pid_t pid)
	{
		std::ifstream file("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
		std::vector<std::string> entries;
		std::string entry;
		while (std::getline(file, entry, '\0'))
			entries.push_back(entry);
		return entries;
	}

	// The value of GLIBC_TUNABLES in `environment`; false when there is none.
	static bool TunablesIn(const std::vector<std::string>& environment, std::string& value)
	{
		for (const std::string& entry : environment) {
			if (entry.rfind("GLIBC_TUNABLES=", 0) == 0) {
				value = entry.substr(strlen("GLIBC_TUNABLES="));
				return true;
			}
		}
		return false;
	}

	// Starts a run as Start() does and, once its worker hangs in Run, reads the environments of
	// the program and of that worker, then ends the program with SIGTERM. False when no worker
	// ran the filter.
	bool ReadEnvironments(const std::vector<std::string>& environment, bool folder,
	                      std::vector<std::string>& programs, std::vector<std::string>& workers)
	{
		pid_t program = Start(environment, folder);
		if (program <= 0)
			return false;
		pid_t worker = FindRunningWorker(program, workers);
		programs = EnvironmentOf(program);
		EXPECT_EQ(kill(program, SIGTERM), 0);
		EXPECT_EQ(WaitForQuimbel(program), 128 + SIGTERM);
		return worker != 0;
	}

	// Whether the process `pid` has ended (a zombie that nobody reaped has, too).
	static bool Ended(pid_t pid)
	{
		std::string stat = ProcFile(pid, "stat");
		return stat.empty() || stat.find(") Z ") != std::string::npos;
	}
};

// A host killed outright, with no chance to stop its workers, still leaves no worker behind:
// the one stuck in Run ends within seconds.
TEST_F(HangingRun, KilledHostLeavesNoWorker)
{
	pid_t program = Start();
	ASSERT_GT(program, 0);
	std::vector<std::string> environment;
	pid_t worker = FindRunningWorker(program, environment);
	ASSERT_EQ(kill(program, SIGKILL), 0);
	EXPECT_EQ(WaitForQuimbel(program), 128 + SIGKILL);
	ASSERT_NE(worker, 0) << "no worker ran the filter";

	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
	while (!Ended(worker) && std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	bool ended = Ended(worker);
	if (!ended)
		kill(worker, SIGKILL);
	EXPECT_TRUE(ended) << "the worker outlived its host";
}

struct AllocatorCase {
	const char* label;
	// GLIBC_TUNABLES as the program is started with it; NULL for none.
	const char* started;
	// How the program's own starts after its restart, and its worker's (NULL: it has none).
	// glibc cuts the variable short at the end of the first setting it reads, so the start is
	// what shows.
	const char* program;
	const char* worker;
};

const AllocatorCase kAllocatorCases[] = {
    {"Unset", NULL, "glibc.malloc.hugetlb=1", NULL},
    {"CallersOwnToo", "glibc.malloc.tcache_count=0:glibc.malloc.mmap_threshold=4096",
     "glibc.malloc.hugetlb=1", "glibc.malloc.tcache_count=0"},
    {"CallersChoiceKept", "glibc.malloc.hugetlb=0", "glibc.malloc.hugetlb=0",
     "glibc.malloc.hugetlb=0"},
};

class AllocatorSettings : public HangingRun, public testing::WithParamInterface<AllocatorCase> {};

// While an add-on's Run hangs in a worker on a folder of pictures, the program runs with its
// malloc settings ahead of the caller's, whose own still win; its worker gets the caller's
// settings back, and a caller who chose for or against huge pages keeps that.
TEST_P(AllocatorSettings, AreTheProgramsAndWorkersGetTheCallers)
{
	const AllocatorCase& setting = GetParam();
	if (setting.started == NULL && getenv("GLIBC_TUNABLES") != NULL)
		GTEST_SKIP() << "the tests themselves run with GLIBC_TUNABLES";
	std::vector<std::string> environment;
	if (setting.started != NULL)
		environment.push_back(std::string("GLIBC_TUNABLES=") + setting.started);
	std::vector<std::string> programs, workers;
	ASSERT_TRUE(ReadEnvironments(environment, true, programs, workers))
	    << "no worker ran the filter";

	std::string programTunables, workerTunables;
	ASSERT_TRUE(TunablesIn(programs, programTunables));
	EXPECT_EQ(programTunables.rfind(setting.program, 0), 0u) << programTunables;
	EXPECT_EQ(TunablesIn(workers, workerTunables), setting.worker != NULL) << workerTunables;
	if (setting.worker != NULL) {
		EXPECT_EQ(workerTunables.rfind(setting.worker, 0), 0u) << workerTunables;
	}
	EXPECT_FALSE(std::filesystem::exists(Path("out/logo.png")));
}

// A picture too small for the restart to pay runs as started: the program's environment has no
// malloc settings of its own.
TEST_F(HangingRun, SmallPictureRunsAsStarted)
{
	if (getenv("GLIBC_TUNABLES") != NULL)
		GTEST_SKIP() << "the tests themselves run with GLIBC_TUNABLES";
	std::vector<std::string> programs, workers;
	ASSERT_TRUE(ReadEnvironments({}, false, programs, workers)) << "no worker ran the filter";
	std::string tunables;
	EXPECT_FALSE(TunablesIn(programs, tunables)) << tunables;
}

INSTANTIATE_TEST_SUITE_P(Tunables, AllocatorSettings, testing::ValuesIn(kAllocatorCases),
                         [](const testing::TestParamInfo<AllocatorCase>& info) {
	                         return std::string(info.param.label);
                         });

} // namespace
