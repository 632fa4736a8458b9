#include "PngRawProfile.h"

#include <cstdio>
#include <cstring>

#include <strings.h>

#include "Metadata.h"
#include "Orientation.h"

const char kRawIptcKeyword[] = "Raw profile type iptc";

namespace {

const char kRawExifKeyword[] = "Raw profile type exif";
// What some tools call the EXIF profile, after the JPEG segment that holds it.
const char kRawApp1Keyword[] = "Raw profile type APP1";
const char kRawXmpKeyword[] = "Raw profile type xmp";

const size_t kBytesPerLine = 36;

// More digits than this would be a size no text that a PNG reader holds could be true to, and
// could overflow.
const size_t kMostSizeDigits = 10;

const uint8 kIptcTagMarker = 0x1c;

bool IsSpace(char c)
{
	return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

int HexValue(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool StartsWith(const std::vector<uint8>& data, const void* prefix, size_t size)
{
	return data.size() >= size && memcmp(data.data(), prefix, size) == 0;
}

// The EXIF of a raw profile: ImageMagick and others write JPEG's "Exif\0\0" in front of the TIFF
// structure, some leave it out. Anything else is no EXIF this library knows.
std::vector<uint8> ExifOfProfile(const std::vector<uint8>& data)
{
	std::vector<uint8> exif = ExifWithoutHeader(data.data(), data.size());
	if (StartsWith(exif, "II*\0", 4) || StartsWith(exif, "MM\0*", 4))
		return exif;
	return std::vector<uint8>();
}

// The IPTC of a raw profile: Photoshop's image resources, as exiv2 writes them (with or without
// the "Photoshop 3.0\0" of a JPEG segment in front), or the IPTC records themselves.
std::vector<uint8> IptcOfProfile(const std::vector<uint8>& data)
{
	static const char kPhotoshopHeader[] = "Photoshop 3.0";
	size_t offset =
	    StartsWith(data, kPhotoshopHeader, sizeof(kPhotoshopHeader)) ? sizeof(kPhotoshopHeader) : 0;
	if (data.size() > offset && data[offset] == kIptcTagMarker)
		return std::vector<uint8>(data.begin() + offset, data.end());
	return IptcOfPhotoshopResources(data.data() + offset, data.size() - offset);
}

} // namespace

std::string RawProfileText(const char* type, const std::vector<uint8>& data)
{
	static const char kDigits[] = "0123456789abcdef";
	char size[32];
	snprintf(size, sizeof(size), "%8zu\n", data.size());
	std::string text = std::string("\n") + type + "\n" + size;
	text.reserve(text.size() + data.size() * 2 + data.size() / kBytesPerLine + 1);
	for (size_t i = 0; i < data.size(); i++) {
		text += kDigits[data[i] >> 4];
		text += kDigits[data[i] & 0xf];
		if (i % kBytesPerLine == kBytesPerLine - 1 || i + 1 == data.size())
			text += '\n';
	}
	return text;
}

bool RawProfileData(const std::string& text, std::vector<uint8>& data)
{
	data.clear();
	std::vector<uint8> bytes;
	// The type's line, after any blank ones.
	size_t position = 0;
	while (position < text.size() && IsSpace(text[position]))
		position++;
	position = text.find('\n', position);
	if (position == std::string::npos)
		return false;
	while (position < text.size() && IsSpace(text[position]))
		position++;
	size_t size = 0;
	size_t digits = 0;
	for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; position++) {
		size = size * 10 + (size_t)(text[position] - '0');
		if (++digits > kMostSizeDigits)
			return false;
	}
	// Each byte takes two characters: a size the rest of the text cannot hold is false.
	if (digits == 0 || size > (text.size() - position) / 2)
		return false;
	bytes.reserve(size);
	int high = -1;
	for (; position < text.size(); position++) {
		char c = text[position];
		if (IsSpace(c))
			continue;
		int value = HexValue(c);
		if (value < 0 || bytes.size() == size)
			return false;
		if (high < 0) {
			high = value;
			continue;
		}
		bytes.push_back((uint8)(high << 4 | value));
		high = -1;
	}
	if (bytes.size() != size || high >= 0)
		return false;
	data.swap(bytes);
	return true;
}

bool TakeRawProfile(const std::string& keyword, const std::string& text, ImageMetadata& metadata)
{
	bool exif = strcasecmp(keyword.c_str(), kRawExifKeyword) == 0 ||
	            strcasecmp(keyword.c_str(), kRawApp1Keyword) == 0;
	bool iptc = strcasecmp(keyword.c_str(), kRawIptcKeyword) == 0;
	bool xmp = strcasecmp(keyword.c_str(), kRawXmpKeyword) == 0;
	if (!exif && !iptc && !xmp)
		return false;
	if ((exif && !metadata.exif.empty()) || (iptc && !metadata.iptc.empty()) ||
	    (xmp && !metadata.xmp.empty()))
		return true;
	std::vector<uint8> data;
	if (!RawProfileData(text, data))
		return true;
	if (xmp) {
		// The packet itself; XMP that exiv2 cannot read is left out when it is mended.
		metadata.xmp.assign(data.begin(), data.end());
		return true;
	}
	if (iptc) {
		metadata.iptc = IptcOfProfile(data);
		return true;
	}
	metadata.exif = ExifOfProfile(data);
	if (!metadata.exif.empty())
		metadata.orientation = ExifOrientation(metadata.exif.data(), metadata.exif.size());
	return true;
}
