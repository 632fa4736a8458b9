// The memory budget of a run: a file that does not fit waits for others, one that never could is
// refused at once.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "MemoryBudget.h"

namespace {

// What does not fit beside what others hold waits until they give enough back.
TEST(MemoryBudget, WaitsForRoom)
{
	MemoryBudget budget(100);
	std::string error;
	ASSERT_TRUE(budget.Acquire(60, error)) << error;

	std::atomic<bool> acquired(false);
	std::thread second([&] {
		std::string secondError;
		acquired = budget.Acquire(50, secondError);
	});
	std::this_thread::sleep_for(std::chrono::milliseconds(50));
	EXPECT_FALSE(acquired);
	budget.Release(60);
	second.join();
	EXPECT_TRUE(acquired);
	EXPECT_TRUE(budget.Acquire(50, error)) << error;
}

// A need larger than the whole budget is refused at once, naming the option that sets it.
TEST(MemoryBudget, RefusesWhatCouldNeverFit)
{
	MemoryBudget budget(3 * 1024 * 1024);
	std::string error;
	EXPECT_FALSE(budget.Acquire(5 * 1024 * 1024, error));
	EXPECT_EQ(error, "needs about 5 MiB, more than the 3 MiB that --max-memory allows");
}

// A reservation gives back what it took when it goes; without a budget it always succeeds.
TEST(MemoryBudget, ReservationsGiveBack)
{
	int64 need = MemoryBudget::NeedOf(100, 100);
	MemoryBudget budget(need);
	std::string error;
	{
		MemoryReservation reservation(&budget);
		ASSERT_TRUE(reservation.AcquireFor(100, 100, error)) << error;
	}
	MemoryReservation again(&budget);
	EXPECT_TRUE(again.AcquireFor(100, 100, error)) << error;
	MemoryReservation none(NULL);
	EXPECT_TRUE(none.AcquireFor(1 << 20, 1 << 20, error));
}

} // namespace
