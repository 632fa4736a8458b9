#include "TemporaryFiles.h"

#include <atomic>
#include <climits>
#include <cstring>

#include <unistd.h>

namespace {

enum SlotState { kFree, kFilling, kHeld };

// Fixed slots with their paths inline: a signal handler may neither allocate nor follow
// pointers that another thread frees.
struct Slot {
	std::atomic<int> state{kFree};
	char path[PATH_MAX];
};

const int kSlotCount = 256;
Slot sSlots[kSlotCount];

} // namespace

int RememberTemporaryFile(const char* path)
{
	if (strlen(path) >= PATH_MAX)
		return -1;
	for (int i = 0; i < kSlotCount; i++) {
		int expected = kFree;
		if (!sSlots[i].state.compare_exchange_strong(expected, kFilling))
			continue;
		strcpy(sSlots[i].path, path);
		sSlots[i].state.store(kHeld);
		return i;
	}
	return -1;
}

void ForgetTemporaryFile(int slot)
{
	if (slot >= 0 && slot < kSlotCount)
		sSlots[slot].state.store(kFree);
}

void RemoveTemporaryFiles()
{
	for (Slot& slot : sSlots) {
		if (slot.state.load() == kHeld)
			unlink(slot.path);
	}
}
