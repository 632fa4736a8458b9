// Where a command's outputs go: the folders they are written into, and the outputs that must not
// be written because they would destroy an input, another output or a file the user did not ask
// to replace.
#ifndef OUTPUT_PATHS_H
#define OUTPUT_PATHS_H

#include <map>
#include <string>
#include <utility>

#include <sys/types.h>

#include "AtomicFile.h"

// True when both paths exist and lead to the same file (same device and inode), whether through
// another spelling of the path, a symbolic link or a hard link.
bool IsSameFile(const std::string& a, const std::string& b);

// Where `output` is written: the file it leads to after links, as an absolute path without "."
// or "..", so that two spellings of one place compare equal whether or not it exists.
std::string ResolvedOutputPath(const std::string& output);

// Creates `folder` with its parents. Returns false, with `error` naming it, when it cannot;
// `use` names what the folder is for ("output", "icon").
bool CreateFolder(const std::string& folder, const char* use, std::string& error);

// Creates `folder` with its parents. Returns false, after telling standard error, when it
// cannot; `use` names what the folder is for ("output", "icon").
bool MakeOutputFolder(const std::string& folder, const char* use);

// The outputs of one command, each checked before any work is done for it. Files are compared
// after links, by device and inode where they exist and by their resolved path where they do
// not yet.
class OutputClaims {
public:
	explicit OutputClaims(Existing existing) : fExisting(existing) {}

	// An input of the command; no output may be it.
	void AddInput(const std::string& input);

	// Claims `output` when it is none of the inputs, no output claimed before, and either new
	// or allowed to be replaced. Returns false with `error`, naming the output, otherwise.
	bool Claim(const std::string& output, std::string& error);

private:
	typedef std::pair<dev_t, ino_t> FileId;

	Existing fExisting;
	std::map<FileId, std::string> fInputs;
	std::map<FileId, std::string> fClaimedFiles;
	std::map<std::string, std::string> fClaimedPaths;
};

#endif // OUTPUT_PATHS_H
