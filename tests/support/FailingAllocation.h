// Failed allocations on demand, for tests of the code that handles them.
//
// FailingAllocation.cpp replaces the nothrow forms of the global operator new (scalar and array)
// for the whole test program, including the add-ons it loads. Outside a FailingAllocation scope
// they allocate as usual; inside one they count each request made on the scope's thread and
// refuse, with a null pointer, all but the first `granted`.
#ifndef FAILING_ALLOCATION_H
#define FAILING_ALLOCATION_H

#include <cstdint>

class FailingAllocation {
public:
	static constexpr int32_t kGrantAll = INT32_MAX;

	explicit FailingAllocation(int32_t granted);
	~FailingAllocation();

	// Nothrow allocations requested on this thread since the scope began, granted or not.
	int32_t Requests() const;

private:
	FailingAllocation(const FailingAllocation&) = delete;
	FailingAllocation& operator=(const FailingAllocation&) = delete;

	bool fOuterActive;
	int32_t fOuterGranted;
	int32_t fOuterRequests;
};

#endif // FAILING_ALLOCATION_H
