// quimbel under GNU parallel, the way a batch is spread over processes or machines: each job is
// one file-to-file command, and parallel's status counts the jobs that failed.
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <unistd.h>

#include "CliSupport.h"

namespace {

// The path of `program` in PATH, or "" when it is in none of its folders.
std::string FindInPath(const std::string& program)
{
	const char* path = getenv("PATH");
	std::istringstream folders(path != NULL ? path : "/usr/bin:/bin");
	std::string folder;
	while (std::getline(folders, folder, ':')) {
		std::string candidate = folder + "/" + program;
		if (!folder.empty() && access(candidate.c_str(), X_OK) == 0)
			return candidate;
	}
	return "";
}

class UnderParallel : public CliTest {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		fParallel = FindInPath("parallel");
		ASSERT_NE(fParallel, "") << "GNU parallel is missing: scripts/install-deps test";
		std::filesystem::create_directories(Path("in"));
		std::filesystem::create_directories(Path("out"));
		for (const char* name : {"chelsea.png", "logo.png", "camera.png"}) {
			std::filesystem::copy_file(SamplePath(name), Path("in/") + name);
			fInputs.push_back(Path("in/") + name);
		}
	}

	// parallel quimbel apply Negative {} out/{/} with `sources` (":::" and the inputs, or
	// "::::" and a list file).
	RunResult Run(const std::vector<std::string>& sources)
	{
		std::vector<std::string> arguments = {"--will-cite", QuimbelProgram(), "apply", "Negative",
		                                      "{}",          Path("out/{/}")};
		arguments.insert(arguments.end(), sources.begin(), sources.end());
		return RunProgram(fParallel, arguments);
	}

	// Each input's negative is in out/ under its name.
	void ExpectNegatives()
	{
		for (const std::string& input : fInputs) {
			std::string name = std::filesystem::path(input).filename().string();
			std::unique_ptr<BBitmap> source = ReadBack(input);
			std::unique_ptr<BBitmap> written = ReadBack(Path("out/") + name);
			ASSERT_TRUE(source != NULL && written != NULL) << name;
			std::vector<uint32> a = Words(*source);
			std::vector<uint32> b = Words(*written);
			ASSERT_EQ(a.size(), b.size()) << name;
			for (size_t i = 0; i < a.size(); i++)
				ASSERT_EQ(a[i] ^ 0x00ffffff, b[i]) << name << " pixel " << i;
		}
	}

	std::string fParallel;
	std::vector<std::string> fInputs;
};

// Every file given after ::: is written, and parallel ends with status 0.
TEST_F(UnderParallel, WritesEveryFile)
{
	std::vector<std::string> sources = {":::"};
	sources.insert(sources.end(), fInputs.begin(), fInputs.end());

	RunResult run = Run(sources);

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(Entries(Path("out")),
	          std::vector<std::string>({"camera.png", "chelsea.png", "logo.png"}));
	ExpectNegatives();
}

// The inputs may come from a list file (::::); a file that fails makes parallel's status
// non-zero, and the other files are still written.
TEST_F(UnderParallel, AFailingFileFailsTheRun)
{
	WriteBytes(Path("in/broken.png"), Bytes(100, 7));
	std::string list;
	for (const std::string& input : fInputs)
		list += input + "\n";
	list += Path("in/broken.png") + "\n";
	WriteText(Path("list"), list);

	RunResult run = Run({"::::", Path("list")});

	EXPECT_EQ(run.status, 1) << "one job failed";
	EXPECT_NE(run.err.find(Path("in/broken.png") + ": not an image file"), std::string::npos)
	    << run.err;
	EXPECT_EQ(Entries(Path("out")),
	          std::vector<std::string>({"camera.png", "chelsea.png", "logo.png"}));
	ExpectNegatives();
}

} // namespace
