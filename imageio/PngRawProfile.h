// The "Raw profile type NAME" text chunks in which several tools store binary metadata in PNG
// files: EXIF before PNG had its eXIf chunk, IPTC, which PNG has no chunk for, and XMP.
#ifndef PNG_RAW_PROFILE_H
#define PNG_RAW_PROFILE_H

#include <string>
#include <vector>

#include "ImageFile.h"

// The keyword of the IPTC raw profile.
extern const char kRawIptcKeyword[];

// The text of a raw profile of `type` holding `data`: a newline, the type, a newline, the size
// in eight columns, a newline and the data in lower-case hex, 72 digits a line.
std::string RawProfileText(const char* type, const std::vector<uint8>& data);

// The data of a raw profile's text. Returns false when the text is damaged: no size, a digit
// that is not hex, or fewer or more data than its size says.
bool RawProfileData(const std::string& text, std::vector<uint8>& data);

// Takes the text chunk `keyword` with `text` into `metadata` when it is a raw profile of EXIF
// ("exif" or "APP1"), IPTC ("iptc") or XMP ("xmp"), and returns true: such a chunk is never kept
// as text, which could not be made true of a changed picture. EXIF, IPTC or XMP the metadata
// have already are kept, and a damaged profile is dropped.
bool TakeRawProfile(const std::string& keyword, const std::string& text, ImageMetadata& metadata);

#endif // PNG_RAW_PROFILE_H
