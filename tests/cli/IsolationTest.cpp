// Add-ons that misbehave, run by the commands: whatever one does costs its own files, named as
// what happened, and list, batches and the gallery go on with the other add-ons.
#include <filesystem>

#include "CliSupport.h"

namespace {

struct Misbehaviour {
	const char* addon;
	// What the messages say happened; whether it happens while loading.
	const char* what;
	bool onLoad;
};

void PrintTo(const Misbehaviour& row, std::ostream* out)
{
	*out << row.addon;
}

const Misbehaviour kMisbehaviours[] = {
    {"CrashOnLoad", "crashed (segmentation fault)", true},
    {"CrashInInstantiate", "crashed (segmentation fault)", true},
    {"CrashInRun", "crashed (segmentation fault)", false},
    {"HangInRun", "was stopped after 2 s", false},
    {"ExitInRun", "exited", false},
    {"ThrowInRun", "raised an exception", false},
    {"AbsurdBoundsInRun", "returned a bitmap without pixel memory", false},
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime opens files, so a worker under it may call open (Landlock still
    // keeps the file closed).
    {"OpenInRun", "was stopped for calling openat", false},
#endif
    {"SocketInRun", "was stopped for calling socket", false},
    {"ExecInRun", "was stopped for calling execve", false},
    // The memory the host lent it cannot be taken from under the host.
    {"ShrinkInRun", "was stopped for calling ftruncate", false},
#if !defined(__SANITIZE_ADDRESS__)
    // Threads may be started, processes not; under the sanitizers clone is allowed whole.
    {"ForkInRun", "was stopped for calling clone", false},
#endif
#if !defined(__SANITIZE_ADDRESS__)
    // Only an address-space limit stops it, which a worker under AddressSanitizer cannot have.
    {"AllocateInRun", "ran out of memory", false},
#endif
};

class Isolation : public CliTest, public testing::WithParamInterface<Misbehaviour> {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		fAddons = MakeAddonFolder(
		    "addons", {AddonPath("CopyThrough"), FixturePath("misbehaving/") + GetParam().addon});
	}

	RunResult Run(std::vector<std::string> arguments)
	{
		arguments.insert(arguments.begin(), {"--addons", fAddons, "--timeout", "2"});
		return RunQuimbel(arguments);
	}

	// No temporary file anywhere in the scratch folder.
	void ExpectNoTemporaries()
	{
		for (const auto& item : std::filesystem::recursive_directory_iterator(fFolder)) {
			EXPECT_EQ(item.path().filename().string().rfind(".quimbel-", 0), std::string::npos)
			    << item.path();
		}
	}

	std::string fAddons;
};

// list shows the good add-on, and the broken one as broken when it breaks while loading.
TEST_P(Isolation, ListGoesOn)
{
	RunResult run = Run({"list"});
	EXPECT_NE(run.out.find("CopyThrough"), std::string::npos) << run.out;
	if (GetParam().onLoad) {
		EXPECT_EQ(run.status, 1);
		EXPECT_NE(run.err.find(fAddons + "/" + GetParam().addon + ": " + GetParam().what),
		          std::string::npos)
		    << run.err;
	} else {
		EXPECT_EQ(run.status, 0) << run.err;
		EXPECT_NE(run.out.find("Misbehaving"), std::string::npos) << run.out;
	}
}

// A batch with the broken add-on fails each file with what happened; one with the good add-on
// writes every file; nothing is left behind.
TEST_P(Isolation, BatchesGoOn)
{
	std::vector<std::string> inputs = {SamplePath("foo3x5x4indexed.png"), SamplePath("camera.png")};
	if (!GetParam().onLoad) {
		RunResult broken = Run({"apply", "Misbehaving", inputs[0], inputs[1], "-o", Path("bad")});
		EXPECT_EQ(broken.status, 1);
		EXPECT_NE(broken.err.find(inputs[0] + ": filter \"Misbehaving\" (" + GetParam().addon +
		                          ") " + GetParam().what),
		          std::string::npos)
		    << broken.err;
		EXPECT_NE(broken.err.find("0 of 2 files written"), std::string::npos) << broken.err;
	}
	RunResult good = Run({"apply", "My", inputs[0], inputs[1], "-o", Path("good")});
	EXPECT_EQ(good.status, 0) << good.err;
	EXPECT_EQ(Entries(Path("good")).size(), 2u);
	ExpectNoTemporaries();
}

// The gallery shows the good add-on's result and the broken one's failure.
TEST_P(Isolation, GalleryGoesOn)
{
	RunResult run = Run({"gallery", SamplePath("foo3x5x4indexed.png"), "-o", Path("gallery")});
	EXPECT_EQ(run.status, 1);
	EXPECT_TRUE(std::filesystem::exists(Path("gallery/result-CopyThrough.png")));
	Bytes page = ReadBytes(Path("gallery/index.html"));
	std::string text(page.begin(), page.end());
	if (!GetParam().onLoad) {
		EXPECT_NE(text.find(GetParam().what), std::string::npos);
	}
	ExpectNoTemporaries();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Isolation, testing::ValuesIn(kMisbehaviours),
                         [](const testing::TestParamInfo<Misbehaviour>& info) {
	                         return std::string(info.param.addon);
                         });

// An add-on whose constructor writes a file works as a filter, but writes nothing: list, a
// batch and the gallery go as with any add-on.
TEST_F(CliTest, LoadingAddonWritesNothing)
{
	std::string written = FixturePath("written-by-an-add-on");
	std::filesystem::remove(written);
	std::string addons = MakeAddonFolder("addons", {FixturePath("misbehaving/WriteOnLoad")});
	std::string input = SamplePath("foo3x5x4indexed.png");

	RunResult list = RunQuimbel({"--addons", addons, "list"});
	RunResult batch =
	    RunQuimbel({"--addons", addons, "apply", "Misbehaving", input, "-o", Path("out")});
	RunResult gallery = RunQuimbel({"--addons", addons, "gallery", input, "-o", Path("gallery")});

	EXPECT_EQ(list.status, 0) << list.err;
	EXPECT_EQ(batch.status, 0) << batch.err;
	EXPECT_EQ(gallery.status, 0) << gallery.err;
	EXPECT_EQ(Entries(Path("out")), std::vector<std::string>({"foo3x5x4indexed.png"}));
	EXPECT_FALSE(std::filesystem::exists(written));
}

// --in-process still runs the add-ons, in the program itself.
TEST_F(CliTest, InProcessRunsTheAddons)
{
	RunResult run = RunQuimbel(
	    {"--in-process", "apply", "Rotate CW 90", SamplePath("chelsea.png"), Path("turned.png")});
	EXPECT_EQ(run.status, 0) << run.err;
	std::unique_ptr<BBitmap> turned = ReadBack(Path("turned.png"));
	ASSERT_NE(turned, nullptr);
	EXPECT_EQ(turned->Bounds(), BRect(0, 0, 299, 450));
}

} // namespace
