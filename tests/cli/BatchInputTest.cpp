// The inputs of a batch: folders with -r, lists of names with --files-from, and --dry-run, which
// says what a batch would write and refuses what it would refuse.
#include <filesystem>

#include "CliSupport.h"

namespace {

// A folder of images with one that is not: photos/chelsea.png, photos/notes.txt,
// photos/sub/logo.png, and an empty photos/sub/empty.png.
class BatchInput : public CliTest {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		std::filesystem::create_directories(Path("photos/sub"));
		std::filesystem::copy_file(SamplePath("chelsea.png"), Path("photos/chelsea.png"));
		std::filesystem::copy_file(SamplePath("logo.png"), Path("photos/sub/logo.png"));
		WriteText(Path("photos/notes.txt"), "not a picture\n");
		WriteText(Path("photos/sub/empty.png"), "");
	}

	// Whether `output` holds the negative of the sample `name`.
	void ExpectNegative(const std::string& output, const std::string& name)
	{
		std::unique_ptr<BBitmap> source = ReadBack(SamplePath(name));
		std::unique_ptr<BBitmap> written = ReadBack(output);
		ASSERT_TRUE(source != NULL && written != NULL) << output;
		std::vector<uint32> a = Words(*source);
		std::vector<uint32> b = Words(*written);
		ASSERT_EQ(a.size(), b.size()) << output;
		for (size_t i = 0; i < a.size(); i++)
			ASSERT_EQ(a[i] ^ 0x00ffffff, b[i]) << output << " pixel " << i;
	}
};

// -r takes every image below the folder and keeps its layout under -o; files whose content is
// no image are passed over with a note that names them, and do not fail the batch.
TEST_F(BatchInput, RecursiveKeepsTheLayout)
{
	RunResult run =
	    RunQuimbel({"apply", "Negative", "-r", Path("photos") + "/", "-o", Path("out")});

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_NE(run.err.find(Path("photos/notes.txt") + ": not an image, passed over"),
	          std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("sub/empty.png: not an image, passed over"), std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("2 of 2 files written"), std::string::npos) << run.err;
	EXPECT_EQ(Entries(Path("out")), std::vector<std::string>({"chelsea.png", "sub"}));
	EXPECT_EQ(Entries(Path("out/sub")), std::vector<std::string>({"logo.png"}));
	ExpectNegative(Path("out/chelsea.png"), "chelsea.png");
	ExpectNegative(Path("out/sub/logo.png"), "logo.png");

	RunResult quiet =
	    RunQuimbel({"-q", "apply", "Negative", "-r", Path("photos"), "-o", Path("quiet")});
	EXPECT_EQ(quiet.status, 0) << quiet.err;
	EXPECT_EQ(quiet.err.find("passed over"), std::string::npos) << quiet.err;
}

// A file named as an input is not passed over when it is no image: it fails, as before.
TEST_F(BatchInput, NamedNonImageStillFails)
{
	RunResult run = RunQuimbel({"apply", "Negative", Path("photos/sub/empty.png"),
	                            Path("photos/chelsea.png"), "-o", Path("out")});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("photos/sub/empty.png") + ": empty file"), std::string::npos)
	    << run.err;
	EXPECT_EQ(Entries(Path("out")), std::vector<std::string>({"chelsea.png"}));
}

// Without -r a folder is no input: the message says to give -r; the other inputs go on.
TEST_F(BatchInput, FolderWithoutRecursiveSuggestsIt)
{
	RunResult run = RunQuimbel(
	    {"apply", "Negative", Path("photos"), SamplePath("camera.png"), "-o", Path("out")});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("photos") + ": is a folder; give -r"), std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("1 of 2 files written"), std::string::npos) << run.err;
	EXPECT_EQ(Entries(Path("out")), std::vector<std::string>({"camera.png"}));
}

struct FileList {
	const char* label;
	// Where the list comes from: a file, or standard input.
	bool fromStandardInput;
	char separator;
};

const FileList kLists[] = {
    {"LinesInAFile", false, '\n'},
    {"NulsInAFile", false, '\0'},
    {"LinesOnStandardInput", true, '\n'},
    {"NulsOnStandardInput", true, '\0'},
};

class FilesFrom : public BatchInput, public ::testing::WithParamInterface<FileList> {};

// --files-from takes the inputs named in a file or on standard input, one a line, or ended by NUL
// with -0 (names may then hold newlines); empty names are passed over.
TEST_P(FilesFrom, TakesEveryNamedFile)
{
	std::string strange = Path("photos/new\nline.png");
	std::filesystem::copy_file(SamplePath("camera.png"), strange);
	char separator = GetParam().separator;
	std::vector<std::string> names = {Path("photos/chelsea.png"), Path("photos/sub/logo.png"), ""};
	if (separator == '\0')
		names.push_back(strange);
	std::string list;
	for (const std::string& name : names)
		list += name + separator;

	std::vector<std::string> arguments = {"apply", "Negative", "-o", Path("out"), "--files-from"};
	RunSetup setup;
	if (GetParam().fromStandardInput) {
		arguments.push_back("-");
		setup.hasInput = true;
		setup.input = list;
	} else {
		WriteText(Path("list"), list);
		arguments.push_back(Path("list"));
	}
	if (separator == '\0')
		arguments.push_back("-0");
	RunResult run = RunQuimbelWith(arguments, setup);

	ASSERT_EQ(run.status, 0) << run.err;
	std::vector<std::string> expected = {"chelsea.png", "logo.png"};
	if (separator == '\0')
		expected.push_back("new\nline.png");
	EXPECT_EQ(Entries(Path("out")), expected);
	ExpectNegative(Path("out/logo.png"), "logo.png");
}

INSTANTIATE_TEST_SUITE_P(Lists, FilesFrom, ::testing::ValuesIn(kLists),
                         [](const auto& info) { return std::string(info.param.label); });

// A list that cannot be read fails the command before anything is written; -0 without a list,
// -r without -o and a batch without inputs are usage errors.
TEST_F(BatchInput, BadListsAndOptions)
{
	RunResult missing =
	    RunQuimbel({"apply", "Negative", "--files-from", Path("nothing.txt"), "-o", Path("out")});
	RunResult nul =
	    RunQuimbel({"apply", "Negative", "-0", Path("photos/chelsea.png"), "-o", Path("out")});
	RunResult noOutput = RunQuimbel({"apply", "Negative", "-r", Path("photos"), Path("out")});
	RunResult noInput = RunQuimbel({"apply", "Negative", "-o", Path("out")});

	EXPECT_EQ(missing.status, 1);
	EXPECT_NE(missing.err.find(Path("nothing.txt") + ": cannot open the list of files"),
	          std::string::npos)
	    << missing.err;
	EXPECT_EQ(nul.status, 2);
	EXPECT_EQ(noOutput.status, 2);
	EXPECT_EQ(noInput.status, 2);
	EXPECT_FALSE(std::filesystem::exists(Path("out")));
}

// --dry-run prints "input -> output" for each file, on standard output, and writes nothing.
TEST_F(BatchInput, DryRunPrintsWhatWouldBeWritten)
{
	RunResult batch = RunQuimbel({"apply", "Negative", "--dry-run", "-r", Path("photos"), "-o",
	                              Path("out/{dir}/{stem}.webp")});
	RunResult one =
	    RunQuimbel({"apply", "Negative", "-n", Path("photos/chelsea.png"), Path("single.jpg")});

	ASSERT_EQ(batch.status, 0) << batch.err;
	EXPECT_EQ(batch.out, Path("photos/chelsea.png") + " -> " + Path("out/chelsea.webp") + "\n" +
	                         Path("photos/sub/logo.png") + " -> " + Path("out/sub/logo.webp") +
	                         "\n");
	ASSERT_EQ(one.status, 0) << one.err;
	EXPECT_EQ(one.out, Path("photos/chelsea.png") + " -> " + Path("single.jpg") + "\n");
	EXPECT_EQ(Entries(), std::vector<std::string>({"photos"}));
}

struct Refusal {
	const char* label;
	// Arguments after "apply Negative"; "@" stands for the scratch folder.
	std::vector<std::string> arguments;
	// What the message says.
	std::string says;
};

const Refusal kRefusals[] = {
    {"ExistingOutput", {"@/photos/chelsea.png", "@/photos/sub/logo.png"}, "exists; not replacing"},
    {"ExistingInBatch",
     {"@/photos/chelsea.png", "-o", "@/photos/sub/empty.{ext}"},
     "@/photos/sub/empty.png: exists; not replacing"},
    {"SameOutputTwice",
     {"-r", "@/photos", "-o", "@/out/same{ext}.png"},
     "@/photos/sub/logo.png: would be written to @/out/samepng.png, as @/photos/chelsea.png is"},
    {"OutputIsInput",
     {"-y", "@/photos/chelsea.png", "@/photos/../photos/chelsea.png"},
     "the output is the input file"},
    {"UnknownFormat", {"@/photos/chelsea.png", "@/out.gif"}, "@/out.gif: unknown image kind"},
    {"UnknownFormatInBatch",
     {"-r", "@/photos", "-o", "@/out/{stem}.bmp"},
     "@/out/chelsea.bmp: unknown image kind"},
};

class DryRunRefusal : public BatchInput, public ::testing::WithParamInterface<Refusal> {
protected:
	std::string Expand(const std::string& text)
	{
		std::string expanded;
		for (char c : text)
			expanded += c == '@' ? fFolder : std::string(1, c);
		return expanded;
	}
};

// A dry run refuses what the real run would, with status 1 and the same message, and writes
// nothing; the real run writes nothing of what it refuses.
TEST_P(DryRunRefusal, MatchesTheRealRun)
{
	std::vector<std::string> arguments = {"apply", "Negative"};
	for (const std::string& argument : GetParam().arguments)
		arguments.push_back(Expand(argument));
	std::vector<std::string> dry = arguments;
	dry.push_back("--dry-run");
	Bytes chelsea = ReadBytes(Path("photos/chelsea.png"));
	Bytes logo = ReadBytes(Path("photos/sub/logo.png"));

	RunResult dryRun = RunQuimbel(dry);
	std::vector<std::string> afterDryRun = Entries();
	RunResult real = RunQuimbel(arguments);

	EXPECT_EQ(dryRun.status, 1) << dryRun.err;
	EXPECT_EQ(real.status, 1) << real.err;
	std::string says = Expand(GetParam().says);
	EXPECT_NE(dryRun.err.find(says), std::string::npos) << dryRun.err;
	EXPECT_NE(real.err.find(says), std::string::npos) << real.err;
	EXPECT_EQ(afterDryRun, std::vector<std::string>({"photos"}));
	EXPECT_TRUE(ReadBytes(Path("photos/chelsea.png")) == chelsea);
	EXPECT_TRUE(ReadBytes(Path("photos/sub/logo.png")) == logo);
}

INSTANTIATE_TEST_SUITE_P(Refusals, DryRunRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
