// Where bitmaps get their pixel memory: zero-filled, and cheap to obtain and first touch even
// for images of many megabytes.
#ifndef PIXEL_MEMORY_H
#define PIXEL_MEMORY_H

#include <cstddef>

namespace BPrivate {

// Returns `bytes` of zero-filled memory aligned to at least 64 bytes, or NULL when the memory
// cannot be had. Release it with FreePixelMemory() and the same size.
void* AllocatePixelMemory(size_t bytes);
void FreePixelMemory(void* memory, size_t bytes);

} // namespace BPrivate

#endif // PIXEL_MEMORY_H
