// Recognising one file under two names.
#ifndef SAME_FILE_H
#define SAME_FILE_H

#include <string>

// True when both paths exist and lead to the same file (same device and inode), whether through
// another spelling of the path, a symbolic link or a hard link.
bool IsSameFile(const std::string& a, const std::string& b);

#endif // SAME_FILE_H
