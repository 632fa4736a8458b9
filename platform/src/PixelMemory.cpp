#include "PixelMemory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Under AddressSanitizer every block comes from the allocator it watches, so that an access past
// the end of any bitmap, however large, is reported; the mapped and recycled blocks below would
// hide it.
#if defined(__SANITIZE_ADDRESS__)
#define PIXEL_MEMORY_WATCHED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIXEL_MEMORY_WATCHED 1
#endif
#endif
#ifdef PIXEL_MEMORY_WATCHED
static const bool kWatchedMemory = true;
#else
static const bool kWatchedMemory = false;
#endif

namespace BPrivate {

namespace {

// Blocks from this size on are mapped straight from the kernel and advised for transparent huge
// pages: the first touch of a fresh 2 MiB page costs one fault instead of 512. Smaller blocks
// come from calloc.
const size_t kMappedThreshold = 1 << 20;
const size_t kHugePageSize = 2 << 20;

// Even with huge pages the kernel's zeroing of fresh pages costs more than copying an image,
// so a few released blocks are kept and handed out again, cleared with streaming stores.
// Filters that run over a series of same-sized images then pay for one clear and one write.
const int kCachedBlocks = 4;
const size_t kCachedBytes = (size_t)1 << 30;

struct CachedBlock {
	void* memory;
	size_t length;
	// Bytes from the start that the previous owner may have written; the rest is still zero.
	size_t dirty;
};

std::mutex sCacheLock;
CachedBlock sCache[kCachedBlocks];
size_t sCachedTotal = 0;

size_t MappedLength(size_t bytes)
{
	return (bytes + kHugePageSize - 1) & ~(kHugePageSize - 1);
}

// Zeroes memory without reading it into the cache first; `memory` is huge-page aligned.
void ClearStreaming(void* memory, size_t bytes)
{
#ifdef __SSE2__
	__m128i zero = _mm_setzero_si128();
	__m128i* out = static_cast<__m128i*>(memory);
	size_t blocks = bytes / 64;
	for (size_t i = 0; i < blocks; i++, out += 4) {
		_mm_stream_si128(out, zero);
		_mm_stream_si128(out + 1, zero);
		_mm_stream_si128(out + 2, zero);
		_mm_stream_si128(out + 3, zero);
	}
	_mm_sfence();
	memset(static_cast<char*>(memory) + blocks * 64, 0, bytes - blocks * 64);
#else
	memset(memory, 0, bytes);
#endif
}

void* TakeCachedBlock(size_t length, bool cleared)
{
	std::lock_guard<std::mutex> lock(sCacheLock);
	for (CachedBlock& block : sCache) {
		if (block.memory == NULL || block.length != length)
			continue;
		CachedBlock taken = block;
		block = CachedBlock{};
		sCachedTotal -= taken.length;
		if (cleared)
			ClearStreaming(taken.memory, taken.dirty);
		return taken.memory;
	}
	return NULL;
}

bool CacheBlock(void* memory, size_t length, size_t dirty)
{
	std::lock_guard<std::mutex> lock(sCacheLock);
	if (sCachedTotal + length > kCachedBytes)
		return false;
	for (CachedBlock& block : sCache) {
		if (block.memory != NULL)
			continue;
		block = CachedBlock{memory, length, dirty};
		sCachedTotal += length;
		return true;
	}
	return false;
}

void* MapBlock(size_t length)
{
	// Map one huge page more than needed and trim both ends, so that the block starts on a
	// huge-page boundary and the kernel can back all of it with huge pages.
	size_t mappedLength = length + kHugePageSize;
	void* mapped =
	    mmap(NULL, mappedLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (mapped == MAP_FAILED)
		return NULL;

	uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
	uintptr_t aligned = (start + kHugePageSize - 1) & ~(uintptr_t)(kHugePageSize - 1);
	size_t head = aligned - start;
	size_t tail = mappedLength - head - length;
	if (head > 0)
		munmap(mapped, head);
	if (tail > 0)
		munmap(reinterpret_cast<void*>(aligned + length), tail);

	void* memory = reinterpret_cast<void*>(aligned);
	madvise(memory, length, MADV_HUGEPAGE);
	return memory;
}

// Shared blocks by their start: the descriptor of each, its mapped length, and how it goes when
// its bitmap does: back to the free blocks (this process's own), to whoever lent it, or unmapped.
struct SharedBlock {
	int descriptor;
	size_t length;
	bool own;
	std::function<void()> release;
	int protection = PROT_READ | PROT_WRITE;
};

// In a process that borrows its memory, the mappings of blocks whose bitmaps are gone, kept by
// the file they map: the lender hands the same files out again, and mapping one anew costs as
// much as a filter's pass over it.
struct KeptMapping {
	dev_t device;
	ino_t inode;
	size_t length;
	int protection;
	void* memory;
};

const size_t kKeptMappings = 8;
std::vector<KeptMapping> sKeptMappings;

std::atomic<bool> sShared(false);
std::atomic<int> sUnclearedFill(-1);
std::atomic<SharedMemoryProvider> sProvider(nullptr);
std::mutex sSharedLock;
std::map<const void*, SharedBlock> sSharedBlocks;
// This process's own shared blocks that no bitmap uses, kept mapped to be handed out again:
// fresh shared pages cost the kernel more than clearing used ones.
std::vector<std::pair<void*, SharedBlock>> sFreeShared;
size_t sFreeSharedBytes = 0;

void RememberShared(void* memory, const SharedBlock& block)
{
	std::lock_guard<std::mutex> lock(sSharedLock);
	sSharedBlocks[memory] = block;
}

void* TakeFreeShared(size_t length)
{
	std::lock_guard<std::mutex> lock(sSharedLock);
	for (auto free = sFreeShared.begin(); free != sFreeShared.end(); ++free) {
		if (free->second.length != length)
			continue;
		void* memory = free->first;
		sSharedBlocks[memory] = free->second;
		sFreeSharedBytes -= length;
		sFreeShared.erase(free);
		return memory;
	}
	return NULL;
}

// Keeps an own block for later; false when enough are kept already.
bool KeepFreeShared(void* memory, const SharedBlock& block)
{
	std::lock_guard<std::mutex> lock(sSharedLock);
	if (sFreeShared.size() >= (size_t)kCachedBlocks ||
	    sFreeSharedBytes + block.length > kCachedBytes)
		return false;
	sFreeShared.push_back(std::make_pair(memory, block));
	sFreeSharedBytes += block.length;
	return true;
}

std::atomic<int (*)()> sOpenFileFolder(nullptr);
std::once_flag sFileFolderOpened;
int sFileFolder = -1;

// A new file of `length` bytes in the folder set for them, opened the first time it is needed,
// unnamed; -1 when there is none or it takes no more files.
int MakeFileInFolder(size_t length)
{
	int (*openFolder)() = sOpenFileFolder.load();
	if (openFolder == nullptr)
		return -1;
	std::call_once(sFileFolderOpened, [openFolder] { sFileFolder = openFolder(); });
	int folder = sFileFolder;
	if (folder < 0)
		return -1;
	int descriptor = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
	if (descriptor < 0)
		return -1;
	if (ftruncate(descriptor, (off_t)length) != 0) {
		close(descriptor);
		return -1;
	}
	return descriptor;
}

// A new shared-memory file of `length` bytes. A memfd is sealed against changes of size, so that
// whoever maps it can rely on its length; files of the folder set for them cannot be sealed. Fresh
// pages of either read as zero.
int MakeSharedFile(size_t length)
{
	int inFolder = MakeFileInFolder(length);
	if (inFolder >= 0)
		return inFolder;
	int descriptor = memfd_create("quimbel-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
	if (descriptor < 0)
		return -1;
	if (ftruncate(descriptor, (off_t)length) != 0 ||
	    fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
		close(descriptor);
		return -1;
	}
	return descriptor;
}

// Forgets the block at `memory` and gives what it was; false when it is no shared block.
bool ForgetShared(void* memory, SharedBlock& block)
{
	std::lock_guard<std::mutex> lock(sSharedLock);
	auto found = sSharedBlocks.find(memory);
	if (found == sSharedBlocks.end())
		return false;
	block = found->second;
	sSharedBlocks.erase(found);
	return true;
}

// Where the kernel gives shared memory huge pages on request (shmem_enabled "advise" among the
// transparent huge page settings), a shared mapping asks for them: every process's first touch
// of a block then costs a fault every 2 MiB instead of every 4 KiB. Elsewhere nothing changes.
void AskForHugePages(void* memory, size_t length)
{
	madvise(memory, length, MADV_HUGEPAGE);
}

// Maps `length` bytes of `descriptor`, or takes a kept mapping of the same file; with `populate`,
// all its pages at once rather than a fault a page.
void* MapShared(int descriptor, size_t length, int protection, bool populate)
{
	struct stat status;
	if (sProvider.load() != nullptr && fstat(descriptor, &status) == 0) {
		std::lock_guard<std::mutex> lock(sSharedLock);
		for (auto kept = sKeptMappings.begin(); kept != sKeptMappings.end(); ++kept) {
			if (kept->device != status.st_dev || kept->inode != status.st_ino ||
			    kept->length != length || kept->protection != protection)
				continue;
			void* memory = kept->memory;
			sKeptMappings.erase(kept);
			return memory;
		}
	}
	void* memory = mmap(NULL, length, protection, MAP_SHARED, descriptor, 0);
	if (memory == MAP_FAILED)
		return NULL;
	AskForHugePages(memory, length);
	// Populated for writing where the block is writable: pages populated for reading would each
	// fault once more at their first write.
	if (populate)
		madvise(memory, length,
		        (protection & PROT_WRITE) != 0 ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
	return memory;
}

// In a borrowing process, keeps the mapping `memory` of `descriptor` for a later bitmap over the
// same file, and closes the descriptor; false, with nothing done, when it cannot be kept.
bool KeepMapping(void* memory, int descriptor, size_t length, int protection)
{
	struct stat status;
	if (sProvider.load() == nullptr || fstat(descriptor, &status) != 0)
		return false;
	std::lock_guard<std::mutex> lock(sSharedLock);
	sKeptMappings.push_back(KeptMapping{status.st_dev, status.st_ino, length, protection, memory});
	if (sKeptMappings.size() > kKeptMappings) {
		munmap(sKeptMappings.front().memory, sKeptMappings.front().length);
		sKeptMappings.erase(sKeptMappings.begin());
	}
	close(descriptor);
	return true;
}

// Unmaps a block that is not this process's own, or keeps its mapping in a borrowing process.
void UnmapShared(void* memory, const SharedBlock& block)
{
	if (KeepMapping(memory, block.descriptor, block.length, block.protection))
		return;
	munmap(memory, block.length);
	close(block.descriptor);
}

// Whether `descriptor` is a file that holds at least `length` bytes. That it keeps them while
// mapped is its lender's to make sure of.
bool HoldsBytes(int descriptor, size_t length)
{
	struct stat status;
	return length > 0 && fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
	       (size_t)status.st_size >= length;
}

void* AllocateShared(size_t bytes, bool cleared)
{
	size_t length = bytes == 0 ? 1 : bytes;
	SharedMemoryProvider provider = sProvider.load();
	if (provider == nullptr) {
		void* kept = TakeFreeShared(length);
		if (kept != NULL) {
			if (cleared)
				ClearStreaming(kept, length);
			return kept;
		}
	}
	int descriptor = provider != nullptr ? provider(length, cleared) : MakeSharedFile(length);
	if (descriptor < 0)
		return NULL;
	void* memory = MapShared(descriptor, length, PROT_READ | PROT_WRITE, true);
	if (memory == NULL) {
		close(descriptor);
		return NULL;
	}
	RememberShared(memory, SharedBlock{descriptor, length, provider == nullptr, nullptr});
	return memory;
}

} // namespace

void SharePixelMemory(bool share)
{
	sShared.store(share);
}

void SetSharedMemoryFolder(int (*openFolder)())
{
	sOpenFileFolder.store(openFolder);
}

void SetSharedMemoryProvider(SharedMemoryProvider provider)
{
	sProvider.store(provider);
}

int MakeSharedMemory(size_t length, void** mapping)
{
	int descriptor = MakeSharedFile(length);
	if (descriptor < 0)
		return -1;
	*mapping = mmap(NULL, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
	if (*mapping == MAP_FAILED) {
		close(descriptor);
		return -1;
	}
	AskForHugePages(*mapping, length);
	return descriptor;
}

void ClearSharedMemory(void* memory, size_t length)
{
	ClearStreaming(memory, length);
}

void WrapSharedPixelMemory(void* memory, int descriptor, size_t length,
                           std::function<void()> release)
{
	RememberShared(memory, SharedBlock{descriptor, length, false, std::move(release)});
}

int SharedPixelMemory(const void* memory)
{
	std::lock_guard<std::mutex> lock(sSharedLock);
	auto found = sSharedBlocks.find(memory);
	return found == sSharedBlocks.end() ? -1 : found->second.descriptor;
}

void* AdoptSharedPixelMemory(int descriptor, size_t length, bool writable)
{
	if (!HoldsBytes(descriptor, length))
		return NULL;
	int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
	void* memory = MapShared(descriptor, length, protection, true);
	if (memory == NULL)
		return NULL;
	RememberShared(memory, SharedBlock{descriptor, length, false, nullptr, protection});
	return memory;
}

namespace {

void* AllocateBlock(size_t bytes, bool cleared)
{
	if (sShared.load())
		return AllocateShared(bytes, cleared);
	if (kWatchedMemory) {
		void* watched = NULL;
		if (posix_memalign(&watched, 64, bytes == 0 ? 1 : bytes) != 0)
			return NULL;
		if (cleared)
			memset(watched, 0, bytes);
		return watched;
	}
	if (bytes < kMappedThreshold)
		return cleared ? calloc(1, bytes == 0 ? 1 : bytes) : malloc(bytes == 0 ? 1 : bytes);

	size_t length = MappedLength(bytes);
	if (length < bytes || length + kHugePageSize < length)
		return NULL;
	void* memory = TakeCachedBlock(length, cleared);
	if (memory != NULL)
		return memory;
	return MapBlock(length);
}

} // namespace

void SetUnclearedFill(int value)
{
	sUnclearedFill.store(value);
}

bool PrefetchSharedPixelMemory(int descriptor, size_t length, bool writable)
{
	if (sProvider.load() == nullptr || !HoldsBytes(descriptor, length)) {
		close(descriptor);
		return false;
	}
	int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
	void* memory = MapShared(descriptor, length, protection, true);
	if (memory == NULL) {
		close(descriptor);
		return false;
	}
	// The first access to each page costs more than the mapping: one byte a page is read, or
	// written back unchanged, so that the bitmap's first pass finds every page ready.
	const size_t kPage = 4096;
	volatile uint8_t* bytes = static_cast<volatile uint8_t*>(memory);
	for (size_t offset = 0; offset < length; offset += kPage) {
		uint8_t value = bytes[offset];
		if (writable)
			bytes[offset] = value;
	}
	if (!KeepMapping(memory, descriptor, length, protection)) {
		munmap(memory, length);
		close(descriptor);
		return false;
	}
	return true;
}

void* AllocatePixelMemory(size_t bytes, bool cleared)
{
	void* memory = AllocateBlock(bytes, cleared);
	int fill = sUnclearedFill.load();
	if (memory != NULL && !cleared && fill >= 0)
		memset(memory, fill, bytes);
	return memory;
}

void FreePixelMemory(void* memory, size_t bytes)
{
	if (memory == NULL)
		return;
	SharedBlock shared;
	if (ForgetShared(memory, shared)) {
		if (shared.release) {
			shared.release();
			return;
		}
		if (shared.own && KeepFreeShared(memory, shared))
			return;
		UnmapShared(memory, shared);
		return;
	}
	if (kWatchedMemory || bytes < kMappedThreshold) {
		free(memory);
		return;
	}
	size_t length = MappedLength(bytes);
	if (!CacheBlock(memory, length, bytes))
		munmap(memory, length);
}

} // namespace BPrivate
