// Where a command's outputs go: the folders they are written into, and outputs that would
// destroy an input.
#ifndef OUTPUT_PATHS_H
#define OUTPUT_PATHS_H

#include <string>

// True when both paths exist and lead to the same file (same device and inode), whether through
// another spelling of the path, a symbolic link or a hard link.
bool IsSameFile(const std::string& a, const std::string& b);

// True, with `error` set, when `output` is the file `input` under another name, so that writing
// it would destroy the input.
bool OutputIsInput(const std::string& input, const std::string& output, std::string& error);

// Creates `folder` with its parents. Returns false, after telling standard error, when it
// cannot; `use` names what the folder is for ("output", "icon").
bool MakeOutputFolder(const std::string& folder, const char* use);

#endif // OUTPUT_PATHS_H
