// Mistakes on the command line: the closest names are suggested, and a number option given
// something else says so.
#include "CliSupport.h"
#include "ClosestNames.h"
#include "TestSupport.h"

namespace {

struct Distance {
	const char* a;
	const char* b;
	size_t distance;
};

void PrintTo(const Distance& pair, std::ostream* out)
{
	*out << pair.a << " / " << pair.b;
}

class EditDistances : public ::testing::TestWithParam<Distance> {};

// Insertions, deletions and substitutions each count one, letters' case none, both ways round.
TEST_P(EditDistances, CountsEdits)
{
	EXPECT_EQ(EditDistance(GetParam().a, GetParam().b), GetParam().distance);
	EXPECT_EQ(EditDistance(GetParam().b, GetParam().a), GetParam().distance);
}

INSTANTIATE_TEST_SUITE_P(Pairs, EditDistances,
                         ::testing::Values(Distance{"", "", 0}, Distance{"", "list", 4},
                                           Distance{"lst", "list", 1}, Distance{"LIST", "list", 0},
                                           Distance{"kitten", "sitting", 3},
                                           Distance{"negtaive", "Negative", 2},
                                           Distance{"apply", "gallery", 5}));

// The suggestions are the close names, nearest first; far ones, and empty names, never.
TEST(ClosestNames, NearestFirst)
{
	std::vector<std::string> names = {"Negative", "Rotate CW 90", "Rotate CCW 90", "Half",
	                                  "",         "Negative"};

	EXPECT_EQ(ClosestNames("negtive", names), std::vector<std::string>({"Negative"}));
	EXPECT_EQ(ClosestNames("rotate", names),
	          std::vector<std::string>({"Rotate CW 90", "Rotate CCW 90"}));
	EXPECT_EQ(ClosestNames("hal", names), std::vector<std::string>({"Half"}));
	EXPECT_EQ(ClosestNames("sepia", names), std::vector<std::string>());
	EXPECT_EQ(ClosestNames("x", names), std::vector<std::string>());
	EXPECT_EQ(ClosestNames("rotate", names, 1), std::vector<std::string>({"Rotate CW 90"}));
	EXPECT_EQ(DidYouMean({"a", "b", "c"}), "did you mean \"a\", \"b\" or \"c\"?");
	EXPECT_EQ(DidYouMean({}), "");
}

struct Mistake {
	const char* label;
	std::vector<std::string> arguments;
	// Standard error, whole.
	const char* message;
};

void PrintTo(const Mistake& mistake, std::ostream* out)
{
	*out << mistake.label;
}

class CommandLineMistake : public CliTest, public ::testing::WithParamInterface<Mistake> {};

// Each mistake is a usage error, status 2, with one line saying what is wrong in plain words.
TEST_P(CommandLineMistake, SaysWhatIsWrong)
{
	std::vector<std::string> arguments = GetParam().arguments;
	for (std::string& argument : arguments) {
		if (argument == "IN")
			argument = SamplePath("chelsea.png");
		else if (argument == "OUT")
			argument = Path("out");
	}

	RunResult run = RunQuimbel(arguments);

	EXPECT_EQ(run.status, 2);
	EXPECT_EQ(run.out, "");
	EXPECT_EQ(run.err, std::string("quimbel: ") + GetParam().message + "\n");
	EXPECT_EQ(Entries(), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, CommandLineMistake,
    ::testing::Values(
        Mistake{"MisspeltCommand", {"lst"}, "unknown command \"lst\"; did you mean \"list\"?"},
        Mistake{"MisspeltCommandAfterOption",
                {"-q", "aply", "My"},
                "unknown command \"aply\"; did you mean \"apply\"?"},
        Mistake{"UnknownCommand", {"frobnicate"}, "unknown command \"frobnicate\""},
        Mistake{"NoCommand",
                {},
                "give a command: list, apply, gallery, info or check (quimbel --help tells more)"},
        Mistake{"MisspeltOption",
                {"--addon", "x", "list"},
                "unknown option \"--addon\"; did you mean \"--addons\"?"},
        Mistake{"UnexpectedArgument", {"list", "extra"}, "list: unexpected argument \"extra\""},
        Mistake{"JobsNotANumber",
                {"apply", "-j", "abc", "My", "IN", "-o", "OUT"},
                "--jobs: \"abc\" is not a whole number"},
        Mistake{"QualityNotWhole",
                {"--quality", "1.5", "list"},
                "--quality: \"1.5\" is not a whole number"},
        Mistake{"CompressionOutOfRange",
                {"--compression", "10", "list"},
                "--compression: 10 is not between 0 and 9"},
        Mistake{"NoValue", {"list", "--addons"}, "--addons: give a value"},
        Mistake{
            "NotASize",
            {"--max-memory", "lots", "list"},
            "--max-memory: not a size; give a number with an optional unit, such as 512M or 8G"},
        Mistake{"MissingArgument", {"gallery"}, "gallery: INPUT is required"},
        Mistake{"PixelsZero", {"--max-pixels", "0", "list"}, "--max-pixels: 0 is not above 0"}),
    [](const auto& info) { return std::string(info.param.label); });

// An unknown filter is answered with the closest display or file names before the list of
// every add-on, in apply and in info alike.
TEST_F(CliTest, UnknownFilterSuggestsTheClosest)
{
	RunResult byName = RunQuimbel({"apply", "negtive", SamplePath("chelsea.png"), Path("o.png")});
	RunResult byFile = RunQuimbel({"info", "Inverte"});
	RunResult nothingClose = RunQuimbel({"apply", "Sepia", SamplePath("chelsea.png"), Path("o")});

	EXPECT_EQ(byName.status, 2);
	EXPECT_EQ(byName.err.rfind("quimbel: unknown filter \"negtive\" (did you mean \"Negative\"?); "
	                           "the add-ons in ",
	                           0),
	          0u)
	    << byName.err;
	EXPECT_NE(byName.err.find("\n  Inverter  id 'nega'  \"Negative\"\n"), std::string::npos)
	    << byName.err;
	EXPECT_EQ(byFile.status, 1);
	EXPECT_NE(byFile.err.find("unknown filter \"Inverte\" (did you mean \"Inverter\"?)"),
	          std::string::npos)
	    << byFile.err;
	EXPECT_EQ(nothingClose.status, 2);
	EXPECT_EQ(nothingClose.err.find("did you mean"), std::string::npos) << nothingClose.err;
}

} // namespace
