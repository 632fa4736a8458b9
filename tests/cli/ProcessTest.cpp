// The process around the work: standard streams the caller closed, and signals that end a batch
// while files are being written.
#include <chrono>
#include <csignal>
#include <filesystem>
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

} // namespace
