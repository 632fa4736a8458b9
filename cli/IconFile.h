// Writing an add-on's icon as an image file.
#ifndef ICON_FILE_H
#define ICON_FILE_H

#include <string>

#include "ImageFile.h"
#include "Resource.h"

// Writes `icon` as an RGBA image at `path`, in the kind its extension names. Returns false and
// sets `error`, starting with the path, on failure, leaving nothing behind.
bool WriteIconFile(const Resource& icon, const std::string& path, const WriteOptions& options,
                   std::string& error);

#endif // ICON_FILE_H
