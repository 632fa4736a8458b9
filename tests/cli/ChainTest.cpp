// Chains of filters (apply A --then B ...): one decoded image through every filter, encoded once.
#include <filesystem>

#include "CliSupport.h"

namespace {

struct Chain {
	const char* label;
	std::vector<std::string> filters;
	bool inProcess;
};

const Chain kChains[] = {
    {"TurnThenInvert", {"Rotate CW 90", "Negative"}, false},
    {"SameAddonTwice", {"Negative", "Negative"}, false},
    {"GrowThenShrinkThenMirror", {"Double", "Half", "Flip Horizontal"}, false},
    {"InProcess", {"Rotate CCW 90", "Brighten", "Flip Vertical"}, true},
};

class FilterChain : public CliTest, public ::testing::WithParamInterface<Chain> {
protected:
	// quimbel [--in-process] apply with `filters` as a chain.
	std::vector<std::string> Apply(const std::vector<std::string>& filters)
	{
		std::vector<std::string> arguments;
		if (GetParam().inProcess)
			arguments.push_back("--in-process");
		arguments.push_back("apply");
		arguments.push_back(filters[0]);
		for (size_t i = 1; i < filters.size(); i++) {
			arguments.push_back("--then");
			arguments.push_back(filters[i]);
		}
		return arguments;
	}
};

// A chain's output is, byte for byte, what applying each filter in turn to the output of the one
// before gives, through lossless PNG files.
TEST_P(FilterChain, EqualsTheStepsOneByOne)
{
	const std::vector<std::string>& filters = GetParam().filters;
	std::string step = SamplePath("chelsea.png");
	for (size_t i = 0; i < filters.size(); i++) {
		std::string next = Path("step" + std::to_string(i) + ".png");
		std::vector<std::string> arguments = Apply({filters[i]});
		arguments.insert(arguments.end(), {step, next});
		RunResult run = RunQuimbel(arguments);
		ASSERT_EQ(run.status, 0) << filters[i] << ": " << run.err;
		step = next;
	}

	std::vector<std::string> arguments = Apply(filters);
	arguments.insert(arguments.end(), {SamplePath("chelsea.png"), Path("chain.png")});
	RunResult chain = RunQuimbel(arguments);

	ASSERT_EQ(chain.status, 0) << chain.err;
	EXPECT_EQ(chain.err, "");
	EXPECT_TRUE(ReadBytes(Path("chain.png")) == ReadBytes(step));
	EXPECT_FALSE(ReadBytes(Path("chain.png")) == ReadBytes(Path("step0.png")))
	    << "the filters after the first made no difference";
}

// In a batch, every file goes through the whole chain.
TEST_P(FilterChain, RunsOnEveryFileOfABatch)
{
	std::vector<std::string> arguments = Apply(GetParam().filters);
	arguments.insert(arguments.end(), {SamplePath("chelsea.png"), SamplePath("logo.png"), "-o",
	                                   Path("batch"), "-j", "2"});
	RunResult batch = RunQuimbel(arguments);
	ASSERT_EQ(batch.status, 0) << batch.err;

	for (const char* name : {"chelsea.png", "logo.png"}) {
		std::string step = SamplePath(name);
		for (size_t i = 0; i < GetParam().filters.size(); i++) {
			std::string next = Path(std::to_string(i) + name);
			std::vector<std::string> one = Apply({GetParam().filters[i]});
			one.insert(one.end(), {step, next});
			ASSERT_EQ(RunQuimbel(one).status, 0);
			step = next;
		}
		EXPECT_TRUE(ReadBytes(Path("batch/") + name) == ReadBytes(step)) << name;
	}
}

INSTANTIATE_TEST_SUITE_P(Chains, FilterChain, ::testing::ValuesIn(kChains),
                         [](const auto& info) { return std::string(info.param.label); });

class BrokenChain : public CliTest {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		fAddons = MakeAddonFolder("addons",
		                          {BuiltAddonFolder() + "/Inverter", FixturePath("NullFilter")});
	}

	std::string fAddons;
};

// A filter of the chain that produces no image stops the chain for that file: the message names
// the filter and the file, nothing is written for it, and the batch goes on with the others.
TEST_F(BrokenChain, StopsAtAFilterWithoutResult)
{
	std::string input = SamplePath("chelsea.png");

	RunResult one = RunQuimbel({"--addons", fAddons, "apply", "Negative", "--then", "null",
	                            "--then", "Negative", input, Path("out.png")});

	EXPECT_EQ(one.status, 1);
	EXPECT_EQ(one.out, "NullFilter: nothing to give\n") << "the filter ran once";
	EXPECT_EQ(one.err, "quimbel: " + input +
	                       ": filter \"Nothing & <more>\" (NullFilter) produced no image; the "
	                       "filters after it did not run\n");
	EXPECT_FALSE(std::filesystem::exists(Path("out.png")));

	RunResult last = RunQuimbel({"--addons", fAddons, "apply", "Negative", "--then", "null", input,
	                             SamplePath("logo.png"), "-o", Path("batch")});

	EXPECT_EQ(last.status, 1);
	EXPECT_NE(last.err.find(input + ": filter \"Nothing & <more>\" (NullFilter) produced no "
	                                "image\n"),
	          std::string::npos)
	    << last.err;
	EXPECT_NE(last.err.find(SamplePath("logo.png") + ": filter \"Nothing"), std::string::npos)
	    << last.err;
	EXPECT_TRUE(Entries(Path("batch")).empty());
}

// Every filter of a chain must exist: an unknown one is a usage error, before any file is read.
TEST_F(BrokenChain, UnknownFilterIsAUsageError)
{
	RunResult run = RunQuimbel({"--addons", fAddons, "apply", "Negative", "--then", "Sharpen",
	                            SamplePath("chelsea.png"), Path("out.png")});

	EXPECT_EQ(run.status, 2);
	EXPECT_NE(run.err.find("Sharpen"), std::string::npos) << run.err;
	EXPECT_EQ(Entries(), std::vector<std::string>({"addons"}));
}

} // namespace
