#include "MemoryBudget.h"

#include <unistd.h>

namespace {

const int64 kMebibyte = 1024 * 1024;
// Bytes a pixel of a 32-bit bitmap takes.
const int64 kPixelBytes = 4;
// The largest result a filter makes, in pixels of its source: a doubling of both sides.
const int64 kLargestResult = 4;

std::string Mebibytes(int64 bytes)
{
	return std::to_string((bytes + kMebibyte - 1) / kMebibyte) + " MiB";
}

} // namespace

MemoryBudget::MemoryBudget(int64 bytes) : fSize(bytes), fHeld(0)
{
}

int64 MemoryBudget::DefaultSize()
{
	long pages = sysconf(_SC_PHYS_PAGES);
	long pageSize = sysconf(_SC_PAGE_SIZE);
	if (pages <= 0 || pageSize <= 0)
		return 4096 * kMebibyte;
	return (int64)pages * pageSize / 2;
}

int64 MemoryBudget::NeedOf(int64 width, int64 height)
{
	return width * height * kPixelBytes * (1 + kLargestResult);
}

bool MemoryBudget::Acquire(int64 bytes, std::string& error)
{
	if (bytes > fSize) {
		error = "needs about " + Mebibytes(bytes) + ", more than the " + Mebibytes(fSize) +
		        " that --max-memory allows";
		return false;
	}
	std::unique_lock<std::mutex> lock(fLock);
	fReleased.wait(lock, [this, bytes] { return fHeld + bytes <= fSize; });
	fHeld += bytes;
	return true;
}

void MemoryBudget::Release(int64 bytes)
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fHeld -= bytes;
	}
	fReleased.notify_all();
}

MemoryReservation::~MemoryReservation()
{
	if (fBudget != NULL && fBytes > 0)
		fBudget->Release(fBytes);
}

bool MemoryReservation::AcquireFor(int64 width, int64 height, std::string& error)
{
	if (fBudget == NULL)
		return true;
	int64 bytes = MemoryBudget::NeedOf(width, height);
	if (!fBudget->Acquire(bytes, error))
		return false;
	fBytes += bytes;
	return true;
}
