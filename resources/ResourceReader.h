// Reading the resources of an add-on file from its ELF section, without loading the file.
#ifndef RESOURCE_READER_H
#define RESOURCE_READER_H

#include <string>
#include <vector>

#include "Resource.h"

// Files larger than this are refused before they are read.
const size_t kMaxResourceFileSize = 256 * 1024 * 1024;

// Reads the resources of the file at `path`. The file is untrusted: returns false and sets
// `error`, starting with the path, when it cannot be read, is not an ELF file, is truncated or
// damaged, has no resource section or a damaged one.
bool ReadResources(const std::string& path, std::vector<Resource>& resources, std::string& error);

// The same for a file's bytes already in memory; `label` starts the error message. libelf may
// keep pointers into `image` only during the call.
bool ReadResourcesFromImage(std::vector<char>& image, const std::string& label,
                            std::vector<Resource>& resources, std::string& error);

#endif // RESOURCE_READER_H
