// The shared memory a host lends one worker for the bitmaps it makes. A block goes back and forth
// between them: lent for a request, the result's pixels while the host uses it, then free to be
// lent again, cleared. Fresh shared pages cost the kernel more than clearing used ones, so
// keeping a few blocks is what makes a filter in a worker as fast as one in the host.
#ifndef LENT_MEMORY_H
#define LENT_MEMORY_H

#include <memory>
#include <mutex>
#include <vector>

#include <sys/types.h>

#include <Bitmap.h>

class LentMemory : public std::enable_shared_from_this<LentMemory> {
public:
	~LentMemory();

	// The descriptor of a block of `length` bytes, for the caller to send and close; -1 when
	// none can be had. The block is zero-filled when `cleared` is set; otherwise it may hold
	// what an earlier result of this worker left in it.
	int Lend(size_t length, bool cleared);

	// The descriptor of a block of `length` bytes that stays free, for the caller to send and
	// close: the worker maps it ahead of the request in which it will ask for such a block
	// uncleared, and Lend() then gives this one. -1 when none can be had.
	int Spare(size_t length);

	// The bitmap over the lent block that `descriptor` (received from the worker, and closed
	// here) shows, laid out as `bounds` and `space`; the block stays the host's until the bitmap
	// goes. NULL when the descriptor is none of the lent blocks or the layout does not fit.
	BBitmap* Claim(int descriptor, BRect bounds, color_space space);

	// The worker has answered: what it still holds of its loans it no longer needs.
	void EndRequest();

private:
	struct Block {
		int descriptor;
		void* mapping;
		size_t length;
		dev_t device;
		ino_t inode;
		bool lent;
		bool claimed;
		// Never lent yet: still all zero.
		bool fresh;
		// Mapped into this process page by page already.
		bool populated;
	};

	Block* _Take(size_t length);
	void _Return(void* mapping);
	void _Trim();

	std::mutex fLock;
	std::vector<Block> fBlocks;
};

#endif // LENT_MEMORY_H
