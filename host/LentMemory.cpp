#include "LentMemory.h"

#include <cstring>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SharedBitmap.h>

namespace {

// Free blocks kept for later loans; more are given back to the system.
const size_t kKeptFreeBlocks = 2;

} // namespace

LentMemory::~LentMemory()
{
	for (Block& block : fBlocks) {
		munmap(block.mapping, block.length);
		close(block.descriptor);
	}
}

int LentMemory::Lend(size_t length, bool cleared)
{
	std::lock_guard<std::mutex> lock(fLock);
	Block* block = _Take(length);
	if (block == NULL)
		return -1;
	if (cleared && !block->fresh)
		BPrivate::ClearSharedMemory(block->mapping, block->length);
	block->fresh = false;
	block->lent = true;
	return dup(block->descriptor);
}

int LentMemory::Spare(size_t length)
{
	std::lock_guard<std::mutex> lock(fLock);
	Block* block = _Take(length);
	return block == NULL ? -1 : dup(block->descriptor);
}

// A free block of `length` bytes, or a new one (zero-filled, `fresh`); NULL when none can be
// had. It stays free until the caller says otherwise.
LentMemory::Block* LentMemory::_Take(size_t length)
{
	for (Block& block : fBlocks) {
		if (!block.lent && !block.claimed && block.length == length)
			return &block;
	}
	void* mapping = NULL;
	int descriptor = BPrivate::MakeSharedMemory(length, &mapping);
	if (descriptor < 0)
		return NULL;
	struct stat status;
	fstat(descriptor, &status);
	// Free blocks beyond the few kept go before the new one is added, so that it stays.
	_Trim();
	fBlocks.push_back(Block{descriptor, mapping, length, status.st_dev, status.st_ino, false, false,
	                        true, false});
	return &fBlocks.back();
}

BBitmap* LentMemory::Claim(int descriptor, BRect bounds, color_space space)
{
	struct stat status;
	bool known = fstat(descriptor, &status) == 0;
	close(descriptor);
	if (!known)
		return NULL;
	std::lock_guard<std::mutex> lock(fLock);
	for (Block& block : fBlocks) {
		if (!block.lent || block.device != status.st_dev || block.inode != status.st_ino)
			continue;
		// The bitmap keeps the blocks mapped for as long as it lives.
		std::shared_ptr<LentMemory> owner = shared_from_this();
		void* mapping = block.mapping;
		BBitmap* bitmap =
		    BPrivate::WrapSharedBitmap(mapping, block.descriptor, block.length, bounds, space,
		                               [owner, mapping] { owner->_Return(mapping); });
		if (bitmap == NULL)
			return NULL;
		// The host reads every pixel of a result (to encode it): its pages are mapped in one
		// pass, not one fault each, the first time the block comes back. Kernels without the
		// request just fault them as they come.
		if (!block.populated)
			madvise(mapping, block.length, MADV_POPULATE_READ);
		block.populated = true;
		block.lent = false;
		block.claimed = true;
		return bitmap;
	}
	return NULL;
}

void LentMemory::EndRequest()
{
	std::lock_guard<std::mutex> lock(fLock);
	for (Block& block : fBlocks)
		block.lent = false;
	_Trim();
}

void LentMemory::_Return(void* mapping)
{
	std::lock_guard<std::mutex> lock(fLock);
	for (Block& block : fBlocks) {
		if (block.mapping == mapping)
			block.claimed = false;
	}
	_Trim();
}

// Gives free blocks beyond the few kept back to the system, oldest first.
void LentMemory::_Trim()
{
	size_t free = 0;
	for (const Block& block : fBlocks)
		free += !block.lent && !block.claimed ? 1 : 0;
	for (auto block = fBlocks.begin(); block != fBlocks.end() && free > kKeptFreeBlocks;) {
		if (block->lent || block->claimed) {
			++block;
			continue;
		}
		munmap(block->mapping, block->length);
		close(block->descriptor);
		block = fBlocks.erase(block);
		free--;
	}
}
