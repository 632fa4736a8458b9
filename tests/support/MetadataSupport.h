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

// Metadata as a camera and a photo editor leave them on a photograph of `width` x `height`
// pixels: EXIF with the capture date, GPS position, pixel sizes, `orientation` and a thumbnail;
// XMP with a title, orientation and pixel sizes; IPTC with a caption; a text; 300 dpi; and the
// colour profile of the sample chelsea.png.
ImageMetadata PhotographMetadata(int width, int height, int orientation = 1);

// A value of `exif`, `xmp` or `iptc` as exiv2 reads it, such as "Exif.Photo.DateTimeOriginal";
// empty when it is not there or the data cannot be read.
std::string ExifValue(const std::vector<uint8>& exif, const std::string& key);
std::string XmpValue(const std::string& xmp, const std::string& key);
std::string IptcValue(const std::vector<uint8>& iptc, const std::string& key);

// Whether `exif` holds a thumbnail.
bool HasThumbnail(const std::vector<uint8>& exif);

#endif // METADATA_SUPPORT_H
