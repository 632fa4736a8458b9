// Keeping what a photograph carries besides its pixels true of the pictures made from it, and the
// containers that JPEG and other kinds wrap it in.
#ifndef METADATA_H
#define METADATA_H

#include <string>
#include <vector>

#include "ImageFile.h"

// Makes exiv2 ready for files from anywhere, on any thread: it reports damaged data by throwing
// rather than warning on standard error, and its XMP toolkit gets the lock it needs to be used
// from several threads, which must be given before its first use. Called before each use of
// exiv2; all but the first call cost nothing.
void PrepareExiv2();

// `source` made true of a bitmap of `width` x `height` whose pixels stand as
// `source.orientation` says: the pixel sizes in its EXIF and XMP become the bitmap's, their
// orientation `source.orientation`, and the EXIF thumbnail, a small picture of the source, is
// dropped. Data that need no change are kept byte for byte; EXIF or XMP too damaged to change
// are dropped rather than left false. A picture that is not upright and has no EXIF gets one
// that says its orientation.
ImageMetadata MendedMetadata(const ImageMetadata& source, int32 width, int32 height);

// `xmp` with the IPTC records of `iptc` added as the XMP properties that mirror them (caption,
// keywords, byline, copyright and the others), for the kinds of file that have no place for IPTC.
// A property `xmp` has already is kept as it is, so IPTC that it mirrors is not added twice;
// `xmp` itself comes back when nothing is added or either cannot be read.
std::string XmpWithIptc(const std::string& xmp, const std::vector<uint8>& iptc);

// EXIF as kept in ImageMetadata from a block that may start with "Exif\0\0", as JPEG's APP1
// segments, and some writers' WebP and HEIF blocks, do.
std::vector<uint8> ExifWithoutHeader(const uint8* data, size_t size);

// The IPTC records in Photoshop's image resources (the payload of a JPEG APP13 segment after
// "Photoshop 3.0\0"); empty when there are none or the resources are damaged.
std::vector<uint8> IptcOfPhotoshopResources(const uint8* data, size_t size);

// Photoshop's image resources holding only `iptc`, for a JPEG APP13 segment.
std::vector<uint8> PhotoshopResourcesOfIptc(const std::vector<uint8>& iptc);

#endif // METADATA_H
