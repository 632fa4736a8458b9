// One resource of an add-on file: a typed, numbered, named block of bytes.
#ifndef RESOURCE_H
#define RESOURCE_H

#include <string>
#include <vector>

#include <SupportDefs.h>

struct Resource {
	// A four-character code, first character in the highest byte ('ICON' is 0x49434F4E).
	uint32 type;
	int32 id;
	std::string name;
	std::vector<uint8> data;
};

// The four-character code spelled by `code`, first character in the highest byte.
constexpr uint32 TypeCode(const char (&code)[5])
{
	return (uint32)(uint8)code[0] << 24 | (uint32)(uint8)code[1] << 16 |
	       (uint32)(uint8)code[2] << 8 | (uint32)(uint8)code[3];
}

#endif // RESOURCE_H
