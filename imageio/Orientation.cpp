#include "Orientation.h"

#include "Metadata.h"

#include <new>

#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/futils.hpp>

int ExifOrientation(const uint8* exif, size_t size)
{
	if (exif == NULL || size == 0 || size > UINT32_MAX)
		return 1;
	PrepareExiv2();
	try {
		Exiv2::ExifData data;
		Exiv2::ExifParser::decode(data, exif, (uint32_t)size);
		auto found = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
		if (found == data.end() || found->count() == 0)
			return 1;
		long orientation = found->toLong();
		return orientation >= 1 && orientation <= 8 ? (int)orientation : 1;
	} catch (...) {
		return 1;
	}
}

std::unique_ptr<BBitmap> Upright(std::unique_ptr<BBitmap> bitmap, int orientation)
{
	if (bitmap == NULL || orientation < 2 || orientation > 8)
		return bitmap;
	int32 width = bitmap->Bounds().IntegerWidth() + 1;
	int32 height = bitmap->Bounds().IntegerHeight() + 1;
	// Orientations 5 to 8 turn the picture a quarter: its sides swap.
	bool quarter = orientation >= 5;
	int32 uprightWidth = quarter ? height : width;
	int32 uprightHeight = quarter ? width : height;
	std::unique_ptr<BBitmap> upright(new (std::nothrow) BBitmap(
	    BRect(0, 0, uprightWidth - 1, uprightHeight - 1), bitmap->ColorSpace()));
	if (upright == NULL || !upright->IsValid())
		return NULL;

	const uint32* in = static_cast<const uint32*>(bitmap->Bits());
	uint32* out = static_cast<uint32*>(upright->Bits());
	for (int32 y = 0; y < uprightHeight; y++) {
		for (int32 x = 0; x < uprightWidth; x++) {
			// Where the pixel shown at (x, y) is stored.
			int32 sx = x;
			int32 sy = y;
			switch (orientation) {
			case 2:
				sx = width - 1 - x;
				break;
			case 3:
				sx = width - 1 - x;
				sy = height - 1 - y;
				break;
			case 4:
				sy = height - 1 - y;
				break;
			case 5:
				sx = y;
				sy = x;
				break;
			case 6:
				sx = y;
				sy = height - 1 - x;
				break;
			case 7:
				sx = width - 1 - y;
				sy = height - 1 - x;
				break;
			case 8:
				sx = width - 1 - y;
				sy = x;
				break;
			}
			out[(size_t)y * uprightWidth + x] = in[(size_t)sy * width + sx];
		}
	}
	return upright;
}
