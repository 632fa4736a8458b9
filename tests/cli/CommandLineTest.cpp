// The command line itself: usage errors, help and version, finding the add-on folder, listing
// the add-ons and picking one by name, file name or id.
#include <filesystem>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

struct Usage {
	const char* label;
	std::vector<std::string> arguments;
};

const Usage kUsageErrors[] = {
    {"Nothing", {}},
    {"UnknownCommand", {"frobnicate"}},
    {"UnknownOption", {"--bogus", "list"}},
    {"ApplyOneFile", {"apply", "My", "in.png"}},
    {"ApplyThreeFilesWithoutFolder", {"apply", "My", "a.png", "b.png", "c.png"}},
    {"ApplyNoWorkers", {"apply", "My", "a.png", "-o", "out", "-j", "0"}},
    {"CompressionTooHigh", {"--compression", "10", "list"}},
    {"QualityZero", {"--quality", "0", "list"}},
    {"PixelsNotANumber", {"--max-pixels", "many", "list"}},
    {"GalleryWithoutFolder", {"gallery", "in.png"}},
    {"ListWithArgument", {"list", "extra"}},
    {"InfoWithoutAddon", {"info"}},
    {"InfoIconsWithoutFolder", {"info", "My", "--icons"}},
    {"InfoIconsEmptyFolder", {"info", "My", "--icons", ""}},
};

class UsageError : public ::testing::TestWithParam<Usage> {};

// A command line that does not parse ends with status 2 and a message on standard error only.
TEST_P(UsageError, ExitsWithTwo)
{
	RunResult run = RunQuimbel(GetParam().arguments);

	EXPECT_EQ(run.status, 2);
	EXPECT_EQ(run.out, "");
	EXPECT_NE(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(CommandLines, UsageError, ::testing::ValuesIn(kUsageErrors),
                         [](const auto& info) { return std::string(info.param.label); });

// --help names every subcommand and the options; --version prints the version; both end with 0.
TEST(CommandLine, HelpAndVersion)
{
	RunResult help = RunQuimbel({"--help"});
	RunResult version = RunQuimbel({"--version"});

	EXPECT_EQ(help.status, 0);
	for (const char* word : {"list", "apply", "gallery", "info", "--addons", "--max-pixels",
	                         "--compression", "QUIMBEL_ADDONS"})
		EXPECT_NE(help.out.find(word), std::string::npos) << word;
	EXPECT_EQ(version.status, 0);
	EXPECT_EQ(version.out, std::string("quimbel ") + QUIMBEL_TEST_VERSION + "\n");
}

// Without --addons or QUIMBEL_ADDONS the program finds the add-ons of its own build tree, and
// lists each with the id and name the add-on itself gives.
TEST(CommandLine, FindsItsOwnAddons)
{
	RunResult run = RunQuimbel({"list"});

	ASSERT_EQ(run.status, 0) << run.err;
	std::vector<std::string> files = BuiltAddonFiles();
	EXPECT_EQ((size_t)std::count(run.out.begin(), run.out.end(), '\n'), files.size());
	for (const std::string& file : files) {
		FilterPtr filter = LoadFilter(file);
		ASSERT_NE(filter, nullptr);
		size_t line = run.out.find(file + " ");
		ASSERT_NE(line, std::string::npos) << run.out;
		std::string text = run.out.substr(line, run.out.find('\n', line) - line);
		EXPECT_NE(text.find(std::string("  ") + filter->name), std::string::npos) << text;
	}
}

class AddonChoice : public CliTest {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		fAddons = MakeAddonFolder("addons", {BuiltAddonFolder() + "/CopyThrough",
		                                     FixturePath("NullFilter"), FixturePath("WrongSpace")});
	}

	std::string fAddons;
};

// The list shows file name, id (a four-character code quoted, other ids as numbers), display
// name and, for the add-ons that come with quimbel only, what the filter does, one add-on a line,
// sorted by file name within each folder; the folder of --addons comes before the installed one,
// whose CopyThrough it shadows.
TEST_F(AddonChoice, ListShowsFileIdAndName)
{
	RunResult run = RunQuimbel({"--addons", fAddons, "list"});

	EXPECT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(Squeezed(run.out).rfind("CopyThrough 100 My copies the image unchanged\n"
	                                  "NullFilter 'null' Nothing & <more>\n"
	                                  "WrongSpace 7 Grey\n"
	                                  "ChannelLift 1 Brighten ",
	                                  0),
	          0u)
	    << run.out;
	EXPECT_NE(run.out.find("\nshadowed: " + BuiltAddonFolder() +
	                       "/CopyThrough: \"My\" (id 100) is shadowed by " + fAddons +
	                       "/CopyThrough\n"),
	          std::string::npos)
	    << run.out;
}

// The folders are searched in order: --addons, those of QUIMBEL_ADDONS (one that does not exist
// passed over), the installed one; the first filter of a name or id wins.
TEST_F(AddonChoice, FoldersAreSearchedInOrder)
{
	std::string only = MakeAddonFolder("only", {FixturePath("WrongSpace")});

	RunResult run = RunQuimbel({"--addons", only, "list"},
	                           {"QUIMBEL_ADDONS=" + Path("missing") + ":" + fAddons});

	EXPECT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(Squeezed(run.out).rfind("WrongSpace 7 Grey\n"
	                                  "CopyThrough 100 My copies the image unchanged\n"
	                                  "NullFilter 'null' Nothing & <more>\n",
	                                  0),
	          0u)
	    << run.out;
	EXPECT_NE(run.out.find(fAddons + "/WrongSpace: \"Grey\" (id 7) is shadowed by " + only +
	                       "/WrongSpace\n"),
	          std::string::npos)
	    << run.out;
	// What is shadowed is not run either: apply picks the first.
	RunResult apply =
	    RunQuimbel({"--addons", only, "apply", "My", SamplePath("chelsea.png"), Path("out.png")},
	               {"QUIMBEL_ADDONS=" + fAddons});
	EXPECT_EQ(apply.status, 0) << apply.err;
}

// Files in the folder that are not add-ons are named with the reason; the others are still
// listed, and the status says that something failed.
TEST_F(AddonChoice, ReportsFilesThatAreNotAddons)
{
	std::filesystem::copy_file(QUIMBEL_TEST_NO_ENTRY_POINT, fAddons + "/NoEntryPoint");
	WriteBytes(fAddons + "/README", Bytes(5, 'x'));

	RunResult run = RunQuimbel({"--addons", fAddons, "list"});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out.rfind("CopyThrough ", 0), 0u) << run.out;
	EXPECT_NE(run.out.find("\nWrongSpace "), std::string::npos) << run.out;
	EXPECT_NE(run.err.find(fAddons + "/NoEntryPoint: not a filter add-on"), std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find(fAddons + "/README: not a loadable add-on"), std::string::npos)
	    << run.err;
}

// What one broken file of the add-on folder means to each command.
struct BrokenFileRow {
	const char* label;
	std::vector<std::string> arguments;
	int status;
	// A file the command writes, or a text it prints, which shows it did its work.
	const char* writes;
	const char* prints;
};

void PrintTo(const BrokenFileRow& row, std::ostream* out)
{
	*out << row.label;
}

class BrokenAddonFile : public CliTest, public testing::WithParamInterface<BrokenFileRow> {};

// Every command that reads the folder names the broken file; those about every add-on (list,
// gallery) end with status 1 after doing their work, those that use only the add-on they name
// (apply, info) are not affected.
TEST_P(BrokenAddonFile, IsReportedByEveryCommand)
{
	std::string addons = MakeAddonFolder("addons", {AddonPath("CopyThrough")});
	WriteBytes(addons + "/README", Bytes(5, 'x'));
	std::vector<std::string> arguments = {"--addons", addons};
	for (const std::string& argument : GetParam().arguments) {
		if (argument == "IN")
			arguments.push_back(SamplePath("foo3x5x4indexed.png"));
		else if (argument == "OUT")
			arguments.push_back(Path("out"));
		else
			arguments.push_back(argument);
	}

	RunResult run = RunQuimbel(arguments);

	EXPECT_EQ(run.status, GetParam().status) << run.err;
	EXPECT_NE(run.err.find("quimbel: " + addons + "/README: not a loadable add-on"),
	          std::string::npos)
	    << run.err;
	if (GetParam().writes != nullptr) {
		EXPECT_TRUE(std::filesystem::exists(Path(GetParam().writes))) << GetParam().writes;
	}
	if (GetParam().prints != nullptr) {
		EXPECT_NE(run.out.find(GetParam().prints), std::string::npos) << run.out;
	}
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BrokenAddonFile,
    testing::Values(
        BrokenFileRow{"List", {"list"}, 1, nullptr, "CopyThrough"},
        BrokenFileRow{"Gallery", {"gallery", "IN", "-o", "OUT"}, 1, "out/index.html", nullptr},
        BrokenFileRow{
            "Apply", {"apply", "My", "IN", "-o", "OUT"}, 0, "out/foo3x5x4indexed.png", nullptr},
        BrokenFileRow{"Info", {"info", "My"}, 0, nullptr, "filter id 100"}),
    [](const testing::TestParamInfo<BrokenFileRow>& info) { return info.param.label; });

// A folder given with --addons that is missing is an error naming it; an empty one leaves the
// other folders' add-ons.
TEST_F(AddonChoice, MissingOrEmptyFolder)
{
	std::filesystem::create_directories(Path("empty"));

	RunResult missing = RunQuimbel({"--addons", Path("missing"), "list"});
	RunResult empty = RunQuimbel({"--addons", Path("empty"), "list"});

	EXPECT_EQ(missing.status, 1);
	EXPECT_NE(missing.err.find(Path("missing") + ": cannot read the add-on folder"),
	          std::string::npos)
	    << missing.err;
	EXPECT_EQ(empty.status, 0) << empty.err;
	EXPECT_EQ((size_t)std::count(empty.out.begin(), empty.out.end(), '\n'),
	          BuiltAddonFiles().size());
}

struct Spelling {
	const char* filter;
	// The add-on file it picks; NULL when it picks none.
	const char* picks;
};

const Spelling kSpellings[] = {
    {"My", "CopyThrough"},
    {"mY", "CopyThrough"},
    {"CopyThrough", "CopyThrough"},
    {"copythrough", "CopyThrough"},
    {"100", "CopyThrough"},
    {"'null'", "NullFilter"},
    {"null", "NullFilter"},
    {"NOTHING & <more>", "NullFilter"},
    {"NullFilter", "NullFilter"},
    {"7", "WrongSpace"},
    {"grey", "WrongSpace"},
    {"Sepia", NULL},
    {"101", NULL},
    {"'nul'", NULL},
    {"Null", NULL},
    {"", NULL},
};

class FilterSpelling : public AddonChoice, public ::testing::WithParamInterface<Spelling> {};

// FILTER picks by display name or file name in any case, or by id; an unknown FILTER is a usage
// error that lists every add-on to choose from.
TEST_P(FilterSpelling, PicksTheRightAddon)
{
	const Spelling& spelling = GetParam();
	std::string output = Path("out.png");

	RunResult run = RunQuimbel(
	    {"--addons", fAddons, "apply", spelling.filter, SamplePath("chelsea.png"), output});

	if (spelling.picks == NULL) {
		EXPECT_EQ(run.status, 2);
		EXPECT_NE(run.err.find(std::string("unknown filter \"") + spelling.filter + "\""),
		          std::string::npos)
		    << run.err;
		for (const char* choice :
		     {"CopyThrough  id 100  \"My\"", "NullFilter  id 'null'", "WrongSpace  id 7"})
			EXPECT_NE(run.err.find(choice), std::string::npos) << run.err;
		return;
	}
	std::string picked = spelling.picks;
	if (picked == "CopyThrough") {
		EXPECT_EQ(run.status, 0) << run.err;
		EXPECT_TRUE(std::filesystem::exists(output));
		return;
	}
	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find("(" + picked + ")"), std::string::npos) << run.err;
	EXPECT_FALSE(std::filesystem::exists(output));
}

INSTANTIATE_TEST_SUITE_P(Names, FilterSpelling, ::testing::ValuesIn(kSpellings),
                         [](const auto& info) {
	                         std::string name =
	                             std::to_string(info.index) + "_" + info.param.filter;
	                         std::replace_if(
	                             name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
	                         return name;
                         });

// A FILTER that names two add-ons is refused, listing both; the file name still picks one.
TEST_F(AddonChoice, AmbiguousFilterListsTheMatches)
{
	std::filesystem::copy_file(fAddons + "/CopyThrough", fAddons + "/CopyAgain");

	RunResult ambiguous =
	    RunQuimbel({"--addons", fAddons, "apply", "My", SamplePath("chelsea.png"), Path("a.png")});
	RunResult unique = RunQuimbel(
	    {"--addons", fAddons, "apply", "CopyAgain", SamplePath("chelsea.png"), Path("b.png")});

	EXPECT_EQ(ambiguous.status, 2);
	EXPECT_NE(ambiguous.err.find("filter \"My\" is ambiguous"), std::string::npos) << ambiguous.err;
	EXPECT_NE(ambiguous.err.find("CopyAgain  id 100"), std::string::npos) << ambiguous.err;
	EXPECT_NE(ambiguous.err.find("CopyThrough  id 100"), std::string::npos) << ambiguous.err;
	EXPECT_EQ(ambiguous.err.find("NullFilter"), std::string::npos) << ambiguous.err;
	EXPECT_EQ(unique.status, 0) << unique.err;
	EXPECT_EQ(Entries(), std::vector<std::string>({"addons", "b.png"}));
}

// A filter that produces no image: its own lines pass through on standard output untouched, and
// the host names the filter and the file on standard error and writes nothing.
TEST_F(AddonChoice, FilterWithoutResult)
{
	std::string input = SamplePath("chelsea.png");

	RunResult run = RunQuimbel({"--addons", fAddons, "apply", "null", input, Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, "NullFilter: nothing to give\n");
	EXPECT_EQ(run.err, "quimbel: " + input +
	                       ": filter \"Nothing & <more>\" (NullFilter) produced no image\n");
	EXPECT_EQ(Entries(), std::vector<std::string>({"addons"}));
}

// A result that is not a 32-bit bitmap is not written.
TEST_F(AddonChoice, FilterWithAnUnusableResult)
{
	std::string input = SamplePath("chelsea.png");

	RunResult run = RunQuimbel({"--addons", fAddons, "apply", "Grey", input, Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.err,
	          "quimbel: " + input +
	              ": filter \"Grey\" (WrongSpace) returned a bitmap that is not in a 32-bit colour "
	              "space\n");
	EXPECT_EQ(Entries(), std::vector<std::string>({"addons"}));
}

// A filter that hands back its own source gives a failure for the file, not a double free.
TEST_F(CliTest, FilterReturningItsSource)
{
	std::string addons = MakeAddonFolder("addons", {FixturePath("ReturnsSource")});
	std::string input = SamplePath("chelsea.png");

	RunResult run = RunQuimbel({"--addons", addons, "apply", "Same", input, Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.err, "quimbel: " + input +
	                       ": filter \"Same\" (ReturnsSource) returned its source image instead "
	                       "of a new one\n");
	EXPECT_EQ(Entries(), std::vector<std::string>({"addons"}));
}

} // namespace
