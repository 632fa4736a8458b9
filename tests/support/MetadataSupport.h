// What a photograph carries besides its pixels, made and taken apart with exiv2 directly, so
// that the tests of keeping it do not rest on the code they check.
#ifndef METADATA_SUPPORT_H
#define METADATA_SUPPORT_H

#include <string>
#include <vector>

#include "ImageFile.h"

const char* const kCaptureDate = "2024:05:17 08:30:12";
const char* const kTitle = "Harbour at dawn";
const char* const kCaption = "Boats leaving the harbour";
const char* const kKeywords[] = {"harbour", "boats"};
const char* const kByline = "Ada Pier";
const char* const kCopyright = "Harbour Pictures Ltd";

// Metadata as a camera and a photo editor leave them on a photograph of `width` x `height`
// pixels: EXIF with the capture date, GPS position, pixel sizes, `orientation` and a thumbnail;
// XMP with a title, orientation and pixel sizes; IPTC with a caption, keywords, a byline and a
// copyright; a text; 300 dpi; and the colour profile of the sample chelsea.png.
ImageMetadata PhotographMetadata(int width, int height, int orientation = 1);

// A value of `exif`, `xmp` or `iptc` as exiv2 reads it, such as "Exif.Photo.DateTimeOriginal";
// empty when it is not there or the data cannot be read.
std::string ExifValue(const std::vector<uint8>& exif, const std::string& key);
std::string XmpValue(const std::string& xmp, const std::string& key);
std::string IptcValue(const std::vector<uint8>& iptc, const std::string& key);

// The values of `key` ("Exif.", "Iptc." or "Xmp." and the rest) in the file at `path` as exiv2
// reads the file itself, joined by ", " as exiv2 shows an XMP list; empty when there are none or
// exiv2 cannot read the file.
std::string FileValue(const std::string& path, const std::string& key);

// Whether `exif` holds a thumbnail.
bool HasThumbnail(const std::vector<uint8>& exif);

#endif // METADATA_SUPPORT_H
