// Reading an add-on's resource source: one statement a line, each making one or two of the
// platform's standard resources.
//
//   # comment lines and blank lines are ignored
//   icons "../FilterIcon.icon"        large and mini icon from an icon source (IconSource.h),
//                                     found relative to this file's folder
//   file_type "application/x-..."     the file's MIME type
//   app_version 0 0 0 development 0 "short description" "long description"
//                                     major, middle, minor, variety, internal, descriptions
//   app_signature "application/x-..." the application signature
//   file_types                        the list of file types the add-on handles, empty
//
// Strings are in double quotes and may hold the escapes \t, \n, \", \\ and \xHH.
#ifndef RESOURCE_SOURCE_H
#define RESOURCE_SOURCE_H

#include <string>
#include <vector>

#include "Resource.h"

// Reads the resource source at `path` into resources in the order of its statements, and names
// every file it read in `inputs`. Returns false and sets `error`, as "path:line: problem", when
// a file cannot be read or is not a well-formed source.
bool ReadResourceSource(const std::string& path, std::vector<Resource>& resources,
                        std::vector<std::string>& inputs, std::string& error);

#endif // RESOURCE_SOURCE_H
