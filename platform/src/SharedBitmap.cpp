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

bool PrefetchSharedPixels(int descriptor, size_t length, bool writable)
{
	return PrefetchSharedPixelMemory(descriptor, length, writable);
}

BBitmap* WrapSharedBitmap(void* mapping, int descriptor, size_t length, BRect bounds,
                          color_space space, std::function<void()> release)
{
	BBitmap* bitmap = new (std::nothrow) BBitmap(bounds, space, -1, false);
	if (bitmap == NULL)
		return NULL;
	// The adopting constructor failed on the descriptor -1 and left the bitmap empty.
	bitmap->fInitStatus = bitmap->_Wrap(mapping, descriptor, length, std::move(release));
	if (!bitmap->IsValid()) {
		delete bitmap;
		return NULL;
	}
	return bitmap;
}

} // namespace BPrivate
