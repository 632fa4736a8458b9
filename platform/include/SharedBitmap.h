// Bitmaps whose pixels live in shared memory, so that a host can hand them to another process
// without copying a pixel: only a descriptor crosses. An extension of this kit for its host, not
// part of the platform's interface.
#ifndef _SHARED_BITMAP_H
#define _SHARED_BITMAP_H

#include <Bitmap.h>

namespace BPrivate {

// From now on, every new bitmap of this process keeps its pixels in shared memory.
void SetSharedBitmaps(bool share);

// The descriptor of the shared memory behind the bitmap's pixels, still owned by the bitmap; -1
// when its pixels are not shared.
int SharedBitmapDescriptor(const BBitmap& bitmap);

// A bitmap over the pixels that the shared-memory file `descriptor` holds, laid out as a new
// bitmap of `bounds` and `space` would be. The file must be sealed against shrinking and hold
// that many bytes. The bitmap takes the descriptor over and closes it when deleted; without
// `writable` its pixels are read-only. Returns NULL, the descriptor still the caller's, when the
// file does not fit.
BBitmap* AdoptSharedBitmap(int descriptor, BRect bounds, color_space space, bool writable);

} // namespace BPrivate

#endif // _SHARED_BITMAP_H
