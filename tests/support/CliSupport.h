// Helpers of the end-to-end tests: running the built quimbel, and byte-level surgery on sample
// files to make damaged ones.
#ifndef CLI_SUPPORT_H
#define CLI_SUPPORT_H

#include <memory>
#include <string>
#include <vector>

#include <Bitmap.h>
#include <SupportDefs.h>

#include "Scratch.h"
#include "TestSupport.h"

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

// A PNG file cut into its chunks; Join() puts it together with fresh CRCs.
struct PngChunk {
	std::string type;
	Bytes data;
};
std::vector<PngChunk> SplitPng(const Bytes& file);
Bytes JoinPng(const std::vector<PngChunk>& chunks);

// Reads an image with the host's reader; the test fails when it cannot.
std::unique_ptr<BBitmap> ReadBack(const std::string& path);

// A scratch folder for the files of a run of quimbel.
class CliTest : public ScratchTest {
protected:
	// A folder in the scratch folder holding copies of the given add-on files.
	std::string MakeAddonFolder(const std::string& name, const std::vector<std::string>& files);
};

#endif // CLI_SUPPORT_H
