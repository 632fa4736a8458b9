// Helpers of the end-to-end tests: running the built quimbel, scratch folders, and byte-level
// surgery on sample files to make damaged ones.
#ifndef CLI_SUPPORT_H
#define CLI_SUPPORT_H

#include <memory>
#include <string>
#include <vector>

#include <Bitmap.h>
#include <SupportDefs.h>

#include <gtest/gtest.h>

typedef std::vector<uint8> Bytes;

struct RunResult {
	// The exit status, or 128 + the signal that ended the program.
	int status = -1;
	std::string out;
	std::string err;
};

// Runs the built quimbel with `arguments`, in an environment without QUIMBEL_ADDONS plus
// `environment` ("NAME=value" entries), and collects both output streams.
RunResult RunQuimbel(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {});

// Runs quimbel with standard error on a pseudo-terminal; returns what appeared there.
std::string RunQuimbelOnTerminal(const std::vector<std::string>& arguments);

std::string SamplePath(const std::string& name);
std::string BuiltAddonFolder();
std::string FixturePath(const std::string& name);
// The add-on files of this build, by file name.
std::vector<std::string> BuiltAddonFiles();

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// A PNG file cut into its chunks; Join() puts it together with fresh CRCs.
struct PngChunk {
	std::string type;
	Bytes data;
};
std::vector<PngChunk> SplitPng(const Bytes& file);
Bytes JoinPng(const std::vector<PngChunk>& chunks);

// Reads an image with the host's reader; the test fails when it cannot.
std::unique_ptr<BBitmap> ReadBack(const std::string& path);

// A fixture with a fresh scratch folder, removed with everything in it after the test.
class CliTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	std::string Path(const std::string& name) const { return fFolder + "/" + name; }
	// The names in a folder (by default the scratch folder), sorted, "." and ".." left out.
	std::vector<std::string> Entries(const std::string& folder = "") const;
	// A folder in the scratch folder holding copies of the given add-on files.
	std::string MakeAddonFolder(const std::string& name, const std::vector<std::string>& files);

	std::string fFolder;
};

#endif // CLI_SUPPORT_H
