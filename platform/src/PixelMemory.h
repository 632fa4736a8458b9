// Where bitmaps get their pixel memory: zero-filled, and cheap to obtain and first touch even
// for images of many megabytes.
#ifndef PIXEL_MEMORY_H
#define PIXEL_MEMORY_H

#include <cstddef>
#include <functional>

namespace BPrivate {

// Returns `bytes` of memory aligned to at least 64 bytes, or NULL when the memory cannot be had.
// With `cleared` it is zero-filled; without, it holds whatever it held (zero when fresh from the
// system, an earlier bitmap's bytes when recycled). Release it with FreePixelMemory() and the
// same size.
void* AllocatePixelMemory(size_t bytes, bool cleared);
void FreePixelMemory(void* memory, size_t bytes);

// With sharing on, every new block is an anonymous shared-memory file (memfd) mapped into this
// process, which another process can map too: SharedPixelMemory() gives its descriptor.
void SharePixelMemory(bool share);
// The descriptor of the shared block that starts at `memory`, or -1 when it is none.
int SharedPixelMemory(const void* memory);
// Maps `length` bytes of the shared-memory file `descriptor` as a block of this process, and
// takes the descriptor over: FreePixelMemory() unmaps and closes it. Returns NULL, leaving the
// descriptor to the caller, when the file is shorter than `length` or cannot be mapped. The
// file must not shrink while it is mapped: its lender sees to that. Without `writable` the block is
// read-only: a write to it stops the process.
void* AdoptSharedPixelMemory(int descriptor, size_t length, bool writable);

// In a process that borrows its shared memory, maps `length` bytes of the shared-memory file
// `descriptor` ahead of the bitmap that will be made over it, touching every page, and keeps
// the mapping for that bitmap. Takes the descriptor over; false when nothing could be kept.
bool PrefetchSharedPixelMemory(int descriptor, size_t length, bool writable);

// Where a process that borrows its shared memory (a worker) gets each new block: the descriptor
// of a shared-memory file of at least `length` bytes, zero-filled when `cleared` is set,
// or -1. Blocks it gives are unmapped and closed when their bitmaps go, never kept.
typedef int (*SharedMemoryProvider)(size_t length, bool cleared);
void SetSharedMemoryProvider(SharedMemoryProvider provider);

// A new shared-memory file of `length` bytes, mapped at `*mapping`; -1 when it cannot be had.
// The caller owns both.
int MakeSharedMemory(size_t length, void** mapping);

// Where MakeSharedMemory() and this process's shared blocks make their files: unnamed files in
// the folder whose descriptor `openFolder` gives, called once, the first time a file is made;
// memfds sealed against changes of size when it gives -1, or the folder takes no file.
void SetSharedMemoryFolder(int (*openFolder)());

// From now on, memory allocated without `cleared` is filled with `value` (0 to 255); -1 leaves it
// as it is. For tests that show a writer leaves no byte unwritten.
void SetUnclearedFill(int value);

// Zeroes `length` bytes at `memory`, page-aligned, without reading them into the cache first.
void ClearSharedMemory(void* memory, size_t length);

// Lets the `length` bytes at `memory`, a mapping of `descriptor` that the caller keeps, serve as
// a shared block; when its bitmap goes, `release` is called instead of unmapping anything.
void WrapSharedPixelMemory(void* memory, int descriptor, size_t length,
                           std::function<void()> release);

} // namespace BPrivate

#endif // PIXEL_MEMORY_H
