#include "ResourceText.h"

#include <cstdio>
#include <cstring>

#include "PlatformResources.h"

std::string TypeCodeText(uint32 type)
{
	std::string text = "'";
	for (int shift = 24; shift >= 0; shift -= 8) {
		char c = (char)(type >> shift);
		if (c < 0x20 || c >= 0x7f || c == '\'' || c == '\\') {
			char number[16];
			snprintf(number, sizeof(number), "0x%08X", (unsigned)type);
			return number;
		}
		text += c;
	}
	return text + "'";
}

std::string QuotedText(const std::string& text)
{
	std::string quoted = "\"";
	for (char c : text) {
		if (c == '"' || c == '\\') {
			quoted += '\\';
			quoted += c;
		} else if (c == '\t') {
			quoted += "\\t";
		} else if (c == '\n') {
			quoted += "\\n";
		} else if (c < 0x20 || c >= 0x7f) {
			char escape[8];
			snprintf(escape, sizeof(escape), "\\x%02X", (unsigned)(uint8)c);
			quoted += escape;
		} else {
			quoted += c;
		}
	}
	return quoted + "\"";
}

static std::string SizeText(size_t size)
{
	return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

static std::string IconText(const Resource& resource, const char* kind, int32 side)
{
	size_t expected = (size_t)side * side;
	if (resource.data.size() != expected) {
		return std::string("damaged ") + kind + " icon: " + SizeText(resource.data.size()) +
		       " instead of " + std::to_string(expected);
	}
	return std::string(kind) + " icon, " + std::to_string(side) + " x " + std::to_string(side) +
	       " pixels";
}

static std::string MimeStringText(const Resource& resource)
{
	const std::vector<uint8>& data = resource.data;
	// An empty vector may have no storage at all, which memchr must not be handed.
	const uint8* end = data.empty() ? NULL : (const uint8*)memchr(data.data(), '\0', data.size());
	if (end == NULL || end != data.data() + data.size() - 1)
		return "damaged string: " + SizeText(data.size()) + " without one terminating NUL";
	return "string " + QuotedText(std::string(data.begin(), data.end() - 1));
}

static uint32 LittleEndianWord(const uint8* bytes)
{
	return (uint32)bytes[0] | (uint32)bytes[1] << 8 | (uint32)bytes[2] << 16 |
	       (uint32)bytes[3] << 24;
}

// The NUL-terminated text in a fixed-size field; false when the field has no NUL.
static bool FieldText(const uint8* field, size_t size, std::string& text)
{
	const uint8* end = (const uint8*)memchr(field, '\0', size);
	if (end == NULL)
		return false;
	text.assign((const char*)field, (const char*)end);
	return true;
}

static std::string VersionText(const Resource& resource)
{
	const std::vector<uint8>& data = resource.data;
	if (data.size() != kVersionInfoSize) {
		return "damaged version record: " + SizeText(data.size()) + " instead of " +
		       std::to_string(kVersionInfoSize);
	}
	std::string shortInfo;
	std::string longInfo;
	if (!FieldText(data.data() + kShortInfoOffset, kShortInfoSize, shortInfo) ||
	    !FieldText(data.data() + kLongInfoOffset, kLongInfoSize, longInfo))
		return "damaged version record: a description without terminating NUL";

	uint32 variety = LittleEndianWord(data.data() + 12);
	std::string varietyText =
	    variety < kVarietyCount ? kVarietyNames[variety] : "variety " + std::to_string(variety);
	return "version " + std::to_string(LittleEndianWord(data.data())) + "." +
	       std::to_string(LittleEndianWord(data.data() + 4)) + "." +
	       std::to_string(LittleEndianWord(data.data() + 8)) + " (" + varietyText + ", internal " +
	       std::to_string(LittleEndianWord(data.data() + 16)) + "), short description " +
	       QuotedText(shortInfo) + ", long description " + QuotedText(longInfo);
}

static std::string MessageText(const Resource& resource)
{
	const std::vector<uint8>& data = resource.data;
	if (data.size() != kEmptyMessageSize || LittleEndianWord(data.data() + 4) != 0)
		return "message of " + SizeText(data.size()) + " that this reader cannot show";
	uint32 what = LittleEndianWord(data.data());
	if (what == 0)
		return "empty message";
	return "empty message, what " + TypeCodeText(what);
}

std::string DescribeResourceData(const Resource& resource)
{
	if (resource.type == kLargeIconType)
		return IconText(resource, "large", kLargeIconSide);
	if (resource.type == kMiniIconType)
		return IconText(resource, "mini", kMiniIconSide);
	if (resource.type == kMimeStringType)
		return MimeStringText(resource);
	if (resource.type == kVersionInfoType)
		return VersionText(resource);
	if (resource.type == kMessageType)
		return MessageText(resource);
	return SizeText(resource.data.size());
}

std::string DescribeResource(const Resource& resource)
{
	return TypeCodeText(resource.type) + " " + std::to_string(resource.id) + " " +
	       QuotedText(resource.name) + ": " + DescribeResourceData(resource);
}
