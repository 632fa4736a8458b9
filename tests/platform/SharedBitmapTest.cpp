// Bitmaps over shared memory: another mapping sees the same pixels, and memory that another
// process could still shrink, or that is too short for the bounds, is refused.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SharedBitmap.h>

#include "TestSupport.h"

namespace {

// A bitmap adopted from a shared bitmap's descriptor shows its pixels, and cannot change them
// when adopted read-only.
TEST(SharedBitmap, AdoptedBitmapSeesThePixels)
{
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr original = MakeBitmap(7, 5, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	ASSERT_TRUE(original->IsValid());
	FillRandom(original.get(), 3);
	int descriptor = BPrivate::SharedBitmapDescriptor(*original);
	ASSERT_GE(descriptor, 0);

	std::unique_ptr<BBitmap> adopted(
	    BPrivate::AdoptSharedBitmap(dup(descriptor), original->Bounds(), B_RGBA32, false));
	ASSERT_NE(adopted, nullptr);
	EXPECT_EQ(Words(*adopted), Words(*original));
	EXPECT_EQ(BPrivate::SharedBitmapDescriptor(*MakeBitmap(2, 2, B_RGBA32)), -1);
}

// Memory not sealed against shrinking, or shorter than the bounds need, gives no bitmap and
// leaves the descriptor to the caller.
TEST(SharedBitmap, RefusesMemoryThatDoesNotFit)
{
	int unsealed = memfd_create("test", MFD_CLOEXEC);
	ASSERT_GE(unsealed, 0);
	ASSERT_EQ(ftruncate(unsealed, 4096), 0);
	EXPECT_EQ(BPrivate::AdoptSharedBitmap(unsealed, BRect(0, 0, 3, 3), B_RGBA32, false), nullptr);
	EXPECT_EQ(close(unsealed), 0);

	BPrivate::SetSharedBitmaps(true);
	BitmapPtr small = MakeBitmap(4, 4, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	int descriptor = dup(BPrivate::SharedBitmapDescriptor(*small));
	EXPECT_EQ(BPrivate::AdoptSharedBitmap(descriptor, BRect(0, 0, 99, 99), B_RGBA32, false),
	          nullptr);
	EXPECT_EQ(close(descriptor), 0);
}

} // namespace
