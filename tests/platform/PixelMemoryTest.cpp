// Pixel memory as the sanitizer build sees it: an access past the end of a bitmap is reported at
// every size, also where the kit would otherwise map the memory itself.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

class WatchedPixels : public testing::TestWithParam<int32> {};

// Reading 64 bytes past the end of a bitmap's pixels stops the program with AddressSanitizer's
// report, for a small bitmap and for one of several megabytes.
TEST_P(WatchedPixels, OverrunIsReported)
{
#if !defined(__SANITIZE_ADDRESS__)
	GTEST_SKIP() << "only a build with AddressSanitizer sees past the end of a bitmap";
#else
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	BitmapPtr bitmap = MakeBitmap(GetParam(), GetParam(), B_RGBA32);
	ASSERT_TRUE(bitmap->IsValid());
	const volatile uint8* bits = static_cast<const uint8*>(bitmap->Bits());
	EXPECT_DEATH((void)bits[bitmap->BitsLength() + 63], "heap-buffer-overflow");
#endif
}

INSTANTIATE_TEST_SUITE_P(Sides, WatchedPixels, testing::Values(200, 1000, 3000));

} // namespace
