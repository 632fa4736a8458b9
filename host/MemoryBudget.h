// The memory that the images of a run may take together. Each file reserves what it will need
// before its pixels are allocated; a file that does not fit beside the others waits for them.
#ifndef MEMORY_BUDGET_H
#define MEMORY_BUDGET_H

#include <condition_variable>
#include <mutex>
#include <string>

#include <SupportDefs.h>

class MemoryBudget {
public:
	explicit MemoryBudget(int64 bytes);

	// Half the machine's physical memory: room for the images of a run beside everything else.
	static int64 DefaultSize();

	int64 Size() const { return fSize; }

	// What a file of `width` x `height` pixels needs at most: its bitmap, and a filter's result
	// of up to four times its pixels (a doubling), which exist together while the filter runs.
	static int64 NeedOf(int64 width, int64 height);

	// Takes `bytes` of the budget, waiting while other holders leave too little. Returns false
	// at once, with `error`, when `bytes` exceed the whole budget.
	bool Acquire(int64 bytes, std::string& error);
	void Release(int64 bytes);

private:
	MemoryBudget(const MemoryBudget&) = delete;
	MemoryBudget& operator=(const MemoryBudget&) = delete;

	const int64 fSize;
	std::mutex fLock;
	std::condition_variable fReleased;
	int64 fHeld;
};

// What one file holds of a budget; given back when the reservation goes.
class MemoryReservation {
public:
	explicit MemoryReservation(MemoryBudget* budget) : fBudget(budget), fBytes(0) {}
	~MemoryReservation();

	// Takes what a `width` x `height` image needs; see MemoryBudget::Acquire(). Without a budget,
	// always succeeds.
	bool AcquireFor(int64 width, int64 height, std::string& error);

private:
	MemoryReservation(const MemoryReservation&) = delete;
	MemoryReservation& operator=(const MemoryReservation&) = delete;

	MemoryBudget* fBudget;
	int64 fBytes;
};

#endif // MEMORY_BUDGET_H
