// Outputs that must not be written: the input itself under another name, and folders that cannot
// take files. Each is refused with a message, and the input and any existing output stay as they
// were.
#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include "CliSupport.h"

namespace {

struct OutputName {
	const char* label;
	// Makes, in `folder`, another name for the file folder/in.png and returns it.
	std::function<std::string(const std::string& folder)> make;
};

const OutputName kSameFile[] = {
    {"SamePath", [](const std::string& folder) { return folder + "/in.png"; }},
    {"OtherSpelling",
     [](const std::string& folder) {
	     std::filesystem::create_directories(folder + "/sub");
	     return folder + "/sub/.././in.png";
     }},
    {"SymbolicLink",
     [](const std::string& folder) {
	     std::filesystem::create_symlink("in.png", folder + "/link.png");
	     return folder + "/link.png";
     }},
    {"HardLink",
     [](const std::string& folder) {
	     std::filesystem::create_hard_link(folder + "/in.png", folder + "/hard.png");
	     return folder + "/hard.png";
     }},
};

class OutputIsInput : public CliTest, public ::testing::WithParamInterface<OutputName> {};

// Writing over the input is refused however the output names it, even with --overwrite; the
// input is unchanged.
TEST_P(OutputIsInput, IsRefused)
{
	std::string input = Path("in.png");
	std::filesystem::copy_file(SamplePath("chelsea.png"), input);
	std::string output = GetParam().make(fFolder);
	std::vector<std::string> before = Entries();

	RunResult run = RunQuimbel({"apply", "My", input, output, "--overwrite"});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(output + ": the output is the input file " + input), std::string::npos)
	    << run.err;
	EXPECT_TRUE(ReadBytes(input) == ReadBytes(SamplePath("chelsea.png")));
	EXPECT_EQ(Entries(), before);
}

INSTANTIATE_TEST_SUITE_P(Names, OutputIsInput, ::testing::ValuesIn(kSameFile),
                         [](const auto& info) { return std::string(info.param.label); });

typedef CliTest OutputSafety;

// A batch whose output folder is the inputs' own folder refuses every file.
TEST_F(OutputSafety, BatchIntoTheInputFolderIsRefused)
{
	std::filesystem::copy_file(SamplePath("chelsea.png"), Path("chelsea.png"));

	RunResult run = RunQuimbel({"apply", "My", Path("chelsea.png"), "-o", fFolder});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find("the output is the input file"), std::string::npos) << run.err;
	EXPECT_NE(run.err.find("0 of 1 files written"), std::string::npos) << run.err;
	EXPECT_TRUE(ReadBytes(Path("chelsea.png")) == ReadBytes(SamplePath("chelsea.png")));
}

// When the command fails, an output file that already existed keeps its content.
TEST_F(OutputSafety, FailureKeepsAnExistingOutput)
{
	const Bytes kOld = {'o', 'l', 'd'};
	WriteBytes(Path("out.png"), kOld);
	WriteBytes(Path("bad.png"), Bytes(10, 0));

	RunResult run = RunQuimbel({"apply", "My", Path("bad.png"), Path("out.png"), "-y"});

	EXPECT_EQ(run.status, 1);
	EXPECT_TRUE(ReadBytes(Path("out.png")) == kOld);
	EXPECT_EQ(Entries(), std::vector<std::string>({"bad.png", "out.png"}));
}

// The shell's *.png in a folder of two images gives "apply FILTER a.png b.png": the existing
// b.png is not replaced unless the user says so.
TEST_F(OutputSafety, ExistingOutputNeedsOverwrite)
{
	std::filesystem::copy_file(SamplePath("chelsea.png"), Path("a.png"));
	std::filesystem::copy_file(SamplePath("camera.png"), Path("b.png"));

	RunResult refused = RunQuimbel({"apply", "Rotate CW 90", Path("a.png"), Path("b.png")});

	EXPECT_EQ(refused.status, 1);
	EXPECT_EQ(refused.err, "quimbel: " + Path("b.png") +
	                           ": exists; not replacing it without --overwrite (-y)\n");
	EXPECT_TRUE(ReadBytes(Path("b.png")) == ReadBytes(SamplePath("camera.png")));

	RunResult replaced = RunQuimbel({"apply", "Rotate CW 90", Path("a.png"), Path("b.png"), "-y"});
	EXPECT_EQ(replaced.status, 0) << replaced.err;
	std::unique_ptr<BBitmap> turned = ReadBack(Path("b.png"));
	ASSERT_NE(turned, nullptr);
	EXPECT_EQ(turned->Bounds(), BRect(0, 0, 299, 450));
}

// In a batch, an output that exists is refused and the other files go on.
TEST_F(OutputSafety, BatchRefusesOnlyExistingOutputs)
{
	std::filesystem::create_directories(Path("out"));
	WriteBytes(Path("out/camera.png"), Bytes(3, 'x'));

	RunResult run = RunQuimbel(
	    {"apply", "My", SamplePath("chelsea.png"), SamplePath("camera.png"), "-o", Path("out")});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("out/camera.png") + ": exists; not replacing it"),
	          std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("1 of 2 files written"), std::string::npos) << run.err;
	EXPECT_EQ(ReadBytes(Path("out/camera.png")), Bytes(3, 'x'));
	EXPECT_NE(ReadBack(Path("out/chelsea.png")), nullptr);
}

// An input that is a link to where the batch writes another input's result is not written
// over, even with --overwrite; the other files go on.
TEST_F(OutputSafety, BatchDoesNotWriteOverAnInputThroughALink)
{
	std::filesystem::create_directories(Path("in"));
	std::filesystem::create_directories(Path("out"));
	std::filesystem::copy_file(SamplePath("chelsea.png"), Path("out/b.png"));
	std::filesystem::create_symlink("../out/b.png", Path("in/a.png"));
	std::filesystem::copy_file(SamplePath("camera.png"), Path("in/b.png"));

	RunResult run = RunQuimbel(
	    {"apply", "Negative", Path("in/a.png"), Path("in/b.png"), "-o", Path("out"), "-y"});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(
	    run.err.find(Path("out/b.png") + ": the output is the input file " + Path("in/a.png")),
	    std::string::npos)
	    << run.err;
	EXPECT_TRUE(ReadBytes(Path("out/b.png")) == ReadBytes(SamplePath("chelsea.png")));
	EXPECT_NE(ReadBack(Path("out/a.png")), nullptr);
}

// Replacing an output keeps its permissions and, when it is a link, the link.
TEST_F(OutputSafety, ReplacedOutputKeepsModeAndLink)
{
	std::filesystem::create_directories(Path("real"));
	WriteBytes(Path("real/out.png"), Bytes(3, 'x'));
	ASSERT_EQ(chmod(Path("real/out.png").c_str(), 0600), 0);
	std::filesystem::create_symlink("real/out.png", Path("out.png"));

	RunResult run = RunQuimbel({"apply", "My", SamplePath("chelsea.png"), Path("out.png"), "-y"});

	EXPECT_EQ(run.status, 0) << run.err;
	EXPECT_TRUE(std::filesystem::is_symlink(Path("out.png")));
	struct stat status;
	ASSERT_EQ(stat(Path("real/out.png").c_str(), &status), 0);
	EXPECT_EQ(status.st_mode & 07777, 0600u);
	EXPECT_NE(ReadBack(Path("real/out.png")), nullptr);
	EXPECT_EQ(Entries(Path("real")), std::vector<std::string>({"out.png"}));
}

struct Destination {
	const char* label;
	std::vector<std::string> arguments;
	const char* message;
};

// /proc takes no new files, not even from root; a path through a regular file is no folder.
const Destination kUnwritable[] = {
    {"FileInProc", {"/proc/quimbel-test.png"}, "/proc/quimbel-test.png: "},
    {"BatchIntoProc", {"-o", "/proc"}, "/proc/chelsea.png: "},
    {"FileUnderAFile", {"@/plain.txt/out.png"}, "/plain.txt/out.png: "},
    {"BatchUnderAFile", {"-o", "@/plain.txt/outputs"}, "cannot create the output folder"},
};

class UnwritableOutput : public CliTest, public ::testing::WithParamInterface<Destination> {};

// An output folder that cannot take the file gives a message naming it and status 1, and leaves
// nothing behind.
TEST_P(UnwritableOutput, IsReported)
{
	WriteBytes(Path("plain.txt"), Bytes(1, 'x'));
	std::vector<std::string> arguments = {"apply", "My", SamplePath("chelsea.png")};
	for (std::string argument : GetParam().arguments) {
		if (argument[0] == '@')
			argument = fFolder + argument.substr(1);
		arguments.push_back(argument);
	}

	RunResult run = RunQuimbel(arguments);

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
	EXPECT_EQ(Entries(), std::vector<std::string>({"plain.txt"}));
	EXPECT_FALSE(std::filesystem::exists("/proc/quimbel-test.png"));
}

INSTANTIATE_TEST_SUITE_P(Folders, UnwritableOutput, ::testing::ValuesIn(kUnwritable),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
