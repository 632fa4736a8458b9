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
// bitmap of `bounds` and `space` would be. The file must hold that many bytes, and its lender
// must keep it from shrinking while the bitmap lives. The bitmap takes the descriptor over and
// closes it when deleted; without `writable` its pixels are read-only. Returns NULL, the descriptor
// still the caller's, when the file does not fit.
BBitmap* AdoptSharedBitmap(int descriptor, BRect bounds, color_space space, bool writable);

// A bitmap over `mapping`, the first `length` bytes of the shared-memory file `descriptor`, both
// kept by the caller; when the bitmap goes, `release` is called instead. Returns NULL, without
// calling `release`, when the bounds need more than `length` bytes.
BBitmap* WrapSharedBitmap(void* mapping, int descriptor, size_t length, BRect bounds,
                          color_space space, std::function<void()> release);

// A new shared-memory file of `length` zero bytes, mapped at `*mapping`: memory to lend to another
// process. Returns its descriptor, or -1; the caller owns both.
int MakeSharedMemory(size_t length, void** mapping);

// Where new shared-memory files are made from now on: unnamed files in the folder whose
// descriptor `openFolder` gives (a file system whose files have huge pages, say), called once, the
// first time a file is made, and never closed; or, when it gives -1 or the folder takes no more,
// memfds sealed against changes of size. Files in a folder cannot be sealed: the caller lends
// them only to processes that cannot shrink them.
void SetSharedMemoryFolder(int (*openFolder)());

// In a process that borrows its shared memory, where every new bitmap's pixels come from: a
// function that gives the descriptor of a shared-memory file of at least the length asked
// for, zero-filled when `cleared` is set (see OverwriteBitmap.h for bitmaps that need not be), or
// -1.
void SetSharedMemoryProvider(int (*provider)(size_t length, bool cleared));

// In a process with a provider, maps the first `length` bytes of the shared-memory file
// `descriptor` and touches each page now, so that a bitmap made over
// the same file later, by AdoptSharedBitmap() or a new bitmap whose memory the provider gives as
// that file, finds it mapped. Writable for the latter, read-only for the former. Takes the
// descriptor over; false when nothing could be kept.
bool PrefetchSharedPixels(int descriptor, size_t length, bool writable);

// Zeroes `length` bytes of shared memory at `mapping`, page-aligned, without reading them into
// the cache first.
void ClearSharedMemory(void* mapping, size_t length);

} // namespace BPrivate

#endif // _SHARED_BITMAP_H
