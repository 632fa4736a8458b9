// Fuzzes what is done with the metadata a file carries: the EXIF orientation read, the EXIF and
// XMP mended for a written picture, the IPTC taken from Photoshop's resources, and IPTC carried
// into XMP. The first byte says which part of the rest is EXIF (or IPTC) and which XMP.
#include <cstdint>
#include <string>

#include "ImageFile.h"
#include "Metadata.h"
#include "Orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size == 0)
		return 0;
	size_t split = (size_t)data[0] * (size - 1) / 255;
	const uint8_t* rest = data + 1;
	ImageMetadata metadata;
	metadata.exif.assign(rest, rest + split);
	metadata.xmp.assign(reinterpret_cast<const char*>(rest) + split, size - 1 - split);
	metadata.orientation = ExifOrientation(metadata.exif.data(), metadata.exif.size());
	// Both as if turned upright on reading and as if left as stored.
	ImageMetadata upright = metadata;
	upright.orientation = 1;
	MendedMetadata(upright, 17, 5);
	MendedMetadata(metadata, 5, 17);
	IptcOfPhotoshopResources(rest, size - 1);
	XmpWithIptc(metadata.xmp, metadata.exif);
	return 0;
}
