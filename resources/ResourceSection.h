// The layout of the ELF section that carries an add-on file's resources.
//
// The section is named ".resources" and is not loaded into memory. All numbers are
// little-endian uint32, whatever the byte order of the ELF file:
//   header   "RSRC", format version (1), entry count;
//   entries  one per resource: type code, id, name offset, name length, data offset, data
//            length; offsets count from the start of the section;
//   then every entry's name (without terminating NUL) and data.
// The names and data lie inside the section, apart from the header, the entries and each other.
#ifndef RESOURCE_SECTION_H
#define RESOURCE_SECTION_H

#include <string>
#include <vector>

#include "Resource.h"

const char* const kResourceSectionName = ".resources";

// The section's bytes for `resources`, in their order.
std::vector<uint8> FlattenResources(const std::vector<Resource>& resources);

// Reads the section's bytes. Returns false and sets `error` (without a file name) when the data
// are not a well-formed resource section: wrong header, entries or their names and data running
// past the section or overlapping, unprintable names, two resources of one type and id.
bool UnflattenResources(const uint8* data, size_t size, std::vector<Resource>& resources,
                        std::string& error);

#endif // RESOURCE_SECTION_H
