#include <SharedBitmap.h>

#include <new>

#include "PixelMemory.h"

namespace BPrivate {

void SetSharedBitmaps(bool share)
{
	SharePixelMemory(share);
}

int SharedBitmapDescriptor(const BBitmap& bitmap)
{
	return SharedPixelMemory(bitmap.Bits());
}

BBitmap* AdoptSharedBitmap(int descriptor, BRect bounds, color_space space, bool writable)
{
	BBitmap* bitmap = new (std::nothrow) BBitmap(bounds, space, descriptor, writable);
	if (bitmap != NULL && !bitmap->IsValid()) {
		delete bitmap;
		return NULL;
	}
	return bitmap;
}

} // namespace BPrivate
