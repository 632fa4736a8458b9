// The info command: what each add-on file is, read from the loaded filter and from the file's
// resources.
#ifndef INFO_COMMAND_H
#define INFO_COMMAND_H

#include <string>
#include <vector>

// For each add-on file prints its path, the filter's id and name, and one line per resource on
// standard output. With a non-empty `iconDir`, also writes each file's icons there as
// <file name>-large.png and <file name>-mini.png. Failures go to standard error, naming the
// file, and the next file is still shown. Returns 0 when every file was shown in full, 1
// otherwise.
int RunInfo(const std::vector<std::string>& addons, const std::string& iconDir);

#endif // INFO_COMMAND_H
