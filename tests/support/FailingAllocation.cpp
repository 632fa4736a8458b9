#include "FailingAllocation.h"

#include <new>

namespace {

// Plain thread-local values with constant initialisation, usable from operator new at any time.
thread_local bool sActive = false;
thread_local int32_t sGranted = 0;
thread_local int32_t sRequests = 0;

bool Refuses()
{
	if (!sActive)
		return false;
	return sRequests++ >= sGranted;
}

} // namespace

FailingAllocation::FailingAllocation(int32_t granted)
    : fOuterActive(sActive), fOuterGranted(sGranted), fOuterRequests(sRequests)
{
	sActive = true;
	sGranted = granted;
	sRequests = 0;
}

FailingAllocation::~FailingAllocation()
{
	sActive = fOuterActive;
	sGranted = fOuterGranted;
	sRequests = fOuterRequests;
}

int32_t FailingAllocation::Requests() const
{
	return sRequests;
}

// Granted requests go to the throwing forms, so that memory still comes from the allocator the
// matching operator delete returns it to (the sanitizer's, in the sanitizer build).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
	if (Refuses())
		return nullptr;
	try {
		return ::operator new(size);
	} catch (const std::bad_alloc&) {
		return nullptr;
	}
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
	if (Refuses())
		return nullptr;
	try {
		return ::operator new[](size);
	} catch (const std::bad_alloc&) {
		return nullptr;
	}
}
