// quimbel check: the add-ons of the build pass every check; add-ons that break the contract fail
// the check about it, and checking goes on after a crash or a hang.
#include "CliSupport.h"
#include "TestSupport.h"

namespace {

// The lines of `text` that report a failed check.
std::vector<std::string> FailedLines(const std::string& text)
{
	std::vector<std::string> failed;
	size_t start = 0;
	while (start < text.size()) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(start, end - start);
		if (line.rfind("  failed: ", 0) == 0)
			failed.push_back(line);
		start = end + 1;
	}
	return failed;
}

// Every built add-on passes every check, all of them checked in one run.
TEST(Check, PassesEveryBuiltAddon)
{
	std::vector<std::string> arguments = {"check"};
	for (const std::string& file : BuiltAddonFiles())
		arguments.push_back(BuiltAddonFolder() + "/" + file);

	RunResult run = RunQuimbel(arguments);

	EXPECT_EQ(run.status, 0) << run.out << run.err;
	EXPECT_EQ(FailedLines(run.out), std::vector<std::string>()) << run.out;
	for (const std::string& file : BuiltAddonFiles())
		EXPECT_NE(run.out.find(BuiltAddonFolder() + "/" + file + "\n"), std::string::npos) << file;
	for (const char* check :
	     {"loads", "exports instantiate_filter alone", "resources",
	      "Run returns NULL or a new valid bitmap", "the source is left byte for byte unchanged",
	      "Run twice gives the same bytes"})
		EXPECT_NE(run.out.find(std::string("  passed: ") + check + "\n"), std::string::npos)
		    << check;
}

// An add-on that breaks the contract in one way, and the failure lines that check must print
// for it besides "resources", which every fixture fails for want of a resource section.
struct Breach {
	const char* label;
	const char* fixture;
	std::vector<std::string> failures;
};

const Breach kBreaches[] = {
    {"NoEntryPoint",
     "NoEntryPoint",
     {"  failed: loads: not a filter add-on: it exports no instantiate_filter",
      "  failed: exports instantiate_filter alone: instantiate_filter is missing; exports "
      "not_a_filter",
      "  failed: name is a terminated string: not tried: the add-on does not load",
      "  failed: spare is 0: not tried", "  failed: two calls give two distinct objects: not tried",
      "  failed: Run returns NULL or a new valid bitmap: not tried",
      "  failed: the source is left byte for byte unchanged: not tried",
      "  failed: Run twice gives the same bytes: not tried",
      "  failed: Run(NULL) gives NULL: not tried",
      "  failed: two threads at once give the same bytes as one: not tried"}},
    {"UnterminatedName",
     "misbehaving/UnterminatedName",
     {"  failed: name is a terminated string: no NUL within the 256 bytes of name"}},
    {"SameObjectTwice",
     "misbehaving/SameObjectTwice",
     {"  failed: two calls give two distinct objects: instantiate_filter gave the same object "
      "twice"}},
    {"ExtraExports",
     "ExtraExport",
     {"  failed: exports instantiate_filter alone: also exports helper_one, helper_two"}},
    {"WritesIntoItsSource",
     "misbehaving/WriteSourceInRun",
     {"  failed: the source is left byte for byte unchanged: on a 1 x 1 B_RGB32 bitmap: wrote "
      "into its source"}},
    {"CrashesInRun",
     "misbehaving/CrashInRun",
     {"  failed: Run returns NULL or a new valid bitmap: on a 1 x 1 B_RGB32 bitmap: crashed "
      "(segmentation fault)",
      "  failed: Run twice gives the same bytes: no run gave a result to compare",
      "  failed: two threads at once give the same bytes as one: no run gave a result to "
      "compare"}},
    {"NeverReturns",
     "misbehaving/HangInRun",
     {"  failed: Run returns NULL or a new valid bitmap: on a 1 x 1 B_RGB32 bitmap: was stopped "
      "after 1 s",
      "  failed: Run twice gives the same bytes: no run gave a result to compare",
      "  failed: two threads at once give the same bytes as one: no run gave a result to "
      "compare"}},
    {"KeepsStateBetweenRuns",
     "misbehaving/KeepStateInRun",
     {"  failed: Run twice gives the same bytes: on a 1 x 1 B_RGB32 bitmap: the results differ",
      "  failed: two threads at once give the same bytes as one: on a 1 x 1 B_RGB32 bitmap: "}},
    {"NotSafeOnTwoThreads",
     "misbehaving/ConcurrentStateInRun",
     // The two runs at once may agree with each other, or not: either way not with one run.
     {"  failed: two threads at once give the same bytes as one: on a 1 x 1 B_RGB32 bitmap: two "
      "runs at once gave "}},
    {"ReturnsItsSource",
     "ReturnsSource",
     {"  failed: Run returns NULL or a new valid bitmap: on a 1 x 1 B_RGB32 bitmap: returned its "
      "source image instead of a new one",
      "  failed: Run twice gives the same bytes: no run gave a result to compare",
      "  failed: two threads at once give the same bytes as one: no run gave a result to "
      "compare"}},
};

void PrintTo(const Breach& breach, std::ostream* out)
{
	*out << breach.label;
}

class CheckBreach : public ::testing::TestWithParam<Breach> {};

// The add-on fails exactly the checks it breaches, each line naming why; the status is 1, and
// the file after it is still checked in full (NullFilter, which fails only "resources").
TEST_P(CheckBreach, FailsTheCheckItBreaches)
{
	std::string path = FixturePath(GetParam().fixture);
	std::string after = FixturePath("NullFilter");

	RunResult run = RunQuimbel({"--timeout", "1", "check", path, after});

	EXPECT_EQ(run.status, 1) << run.out << run.err;
	std::vector<std::string> expected = GetParam().failures;
	expected.push_back("  failed: resources: no resources");
	expected.push_back("  failed: resources: no resources");
	std::vector<std::string> failed = FailedLines(run.out);
	ASSERT_EQ(failed.size(), expected.size()) << run.out;
	for (const std::string& line : expected) {
		bool found = false;
		for (const std::string& got : failed)
			found = found || got.rfind(line, 0) == 0;
		EXPECT_TRUE(found) << line << "\nin:\n" << run.out;
	}
	size_t afterAt = run.out.find(after + "\n");
	ASSERT_NE(afterAt, std::string::npos) << run.out;
	EXPECT_NE(run.out.find("  passed: Run twice gives the same bytes\n", afterAt),
	          std::string::npos)
	    << run.out;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CheckBreach, ::testing::ValuesIn(kBreaches),
                         [](const auto& breach) { return std::string(breach.param.label); });

// A file that is no ELF object fails loading, exports and resources alike, and the status says so.
TEST(Check, RefusesAFileThatIsNoAddon)
{
	std::string path = SamplePath("chelsea.png");

	RunResult run = RunQuimbel({"check", path});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.out.find("  failed: loads: not a loadable add-on"), std::string::npos) << run.out;
	EXPECT_NE(run.out.find("  failed: exports instantiate_filter alone: not an ELF file"),
	          std::string::npos)
	    << run.out;
	EXPECT_NE(run.out.find("  failed: resources: not an ELF file"), std::string::npos) << run.out;
}

} // namespace
