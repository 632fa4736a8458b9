// Outputs that must not be written: the input itself under another name, and folders that cannot
// take files. Each is refused with a message, and the input and any existing output stay as they
// were.
#include <filesystem>
#include <functional>

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

// Writing over the input is refused however the output names it; the input is unchanged.
TEST_P(OutputIsInput, IsRefused)
{
	std::string input = Path("in.png");
	std::filesystem::copy_file(SamplePath("chelsea.png"), input);
	std::string output = GetParam().make(fFolder);
	std::vector<std::string> before = Entries();

	RunResult run = RunQuimbel({"apply", "My", input, output});

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

	RunResult run = RunQuimbel({"apply", "My", Path("bad.png"), Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_TRUE(ReadBytes(Path("out.png")) == kOld);
	EXPECT_EQ(Entries(), std::vector<std::string>({"bad.png", "out.png"}));
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
