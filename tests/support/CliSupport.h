// Helpers of the end-to-end tests: running the built quimbel, and byte-level surgery on sample
// files to make damaged ones.
#ifndef CLI_SUPPORT_H
#define CLI_SUPPORT_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

#include <Bitmap.h>
#include <SupportDefs.h>

#include "Scratch.h"
#include "TestSupport.h"

struct RunResult {
	// The exit status, or 128 + the signal that ended the program.
	int status = -1;
	std::string out;
	std::string err;
	// The most memory the program held at once (RunQuimbelWith only).
	long maxResidentKilobytes = 0;
};

// Runs the built quimbel with `arguments`, in an environment without QUIMBEL_ADDONS plus
// `environment` ("NAME=value" entries), and collects both output streams.
RunResult RunQuimbel(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {});

// How the program is run beyond its arguments.
struct RunSetup {
	// "NAME=value" entries added to an environment without QUIMBEL_ADDONS.
	std::vector<std::string> environment;
	// Standard input: these bytes when `hasInput`, otherwise /dev/null.
	bool hasInput = false;
	std::string input;
	// Descriptors among 0, 1 and 2 that the program starts with closed.
	std::vector<int> closed;
	// A limit on the program's address space in bytes (ulimit -v); 0 for none.
	rlim_t addressSpace = 0;
};

RunResult RunQuimbelWith(const std::vector<std::string>& arguments, const RunSetup& setup);

// The same for another program, at the path `program`, such as a tool that runs quimbel.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunSetup& setup = RunSetup());
// The path of the built quimbel.
std::string QuimbelProgram();

// `text` with each run of spaces made one, for comparing tables whose columns are as wide as
// their longest entry.
std::string Squeezed(const std::string& text);

// Starts quimbel in the background, every standard stream on /dev/null, for a test that acts on
// it while it runs (a signal); WaitForQuimbel() gives its status as RunResult does.
// `environment` as RunQuimbel() takes it.
pid_t StartQuimbel(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {});
int WaitForQuimbel(pid_t child);

// quimbel running with standard error on a pseudo-terminal of its own, which is its controlling
// terminal, so that resizing the terminal signals it as a real one does.
class TerminalRun {
public:
	// Starts quimbel on a terminal `columns` wide, in an environment without QUIMBEL_ADDONS plus
	// `environment` ("NAME=value" entries; the test's TERM unless one is given).
	TerminalRun(const std::vector<std::string>& arguments, unsigned short columns,
	            const std::vector<std::string>& environment = {"TERM=xterm"});
	~TerminalRun();

	// Reads what the program writes until `done` holds of what it wrote since this call, or it
	// has ended; returns whether `done` came true.
	bool ReadUntil(const std::function<bool(const std::string& since)>& done);
	// Makes the terminal `columns` wide.
	void Resize(unsigned short columns);
	// Reads to the end and returns the exit status, as RunResult gives it.
	int Wait();
	// Everything written on the terminal so far.
	const std::string& Text() const { return fText; }

private:
	bool _ReadSome();

	int fController = -1;
	pid_t fChild = -1;
	std::string fText;
};

// Runs quimbel with standard error on a pseudo-terminal 80 columns wide; returns what appeared
// there. The run must succeed.
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
