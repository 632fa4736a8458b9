// Readable renderings of resources, for people reading an add-on file's resources.
#ifndef RESOURCE_TEXT_H
#define RESOURCE_TEXT_H

#include <string>

#include "Resource.h"

// A type code as 'ICON' when its four characters are printable, otherwise as 0x0000002A.
std::string TypeCodeText(uint32 type);

// `text` in double quotes; quotes, backslashes, tabs, newlines and other unprintable bytes
// are written as escapes (\", \\, \t, \n, \x07), so that nothing in it is invisible.
std::string QuotedText(const std::string& text);

// A resource's data made readable, as DescribeResource() ends: "large icon, 32 x 32 pixels".
std::string DescribeResourceData(const Resource& resource);

// One line: type code, id, quoted name and the data made readable: the icons' sizes, MIME
// strings quoted, the version record's numbers and both descriptions, messages; data this
// reader does not know are shown by their size. Damaged data are named as such.
std::string DescribeResource(const Resource& resource);

#endif // RESOURCE_TEXT_H
