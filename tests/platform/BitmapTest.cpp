// The imaging kit's bitmaps: sizes, row layout, refusal of bad bounds, zeroed memory, locking
// and attached views.
#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include <Bitmap.h>
#include <View.h>

namespace {

struct LayoutCase {
	const char* label;
	BRect bounds;
	color_space space;
	int32 integerWidth;
	int32 integerHeight;
	int32 bytesPerRow;
};

const LayoutCase kLayouts[] = {
    {"OnePixel", BRect(0, 0, 0, 0), B_RGBA32, 0, 0, 4},
    {"HundredByFifty", BRect(0, 0, 99, 49), B_RGB32, 99, 49, 400},
    {"FractionalRoundsUp", BRect(0, 0, 9.5f, 4.2f), B_RGBA32, 10, 5, 44},
    {"NotAtOrigin", BRect(10, 20, 13, 21), B_RGB32, 3, 1, 16},
    {"TwentyFourBitPadded", BRect(0, 0, 2, 1), B_RGB24, 2, 1, 12},
    {"SixteenBitPadded", BRect(0, 0, 2, 0), B_RGB16, 2, 0, 8},
    {"EightBitPadded", BRect(0, 0, 4, 0), B_GRAY8, 4, 0, 8},
    {"OneBitPadded", BRect(0, 0, 32, 0), B_GRAY1, 32, 0, 8},
};

void PrintTo(const LayoutCase& c, std::ostream* out)
{
	*out << c.label;
}

class BitmapLayout : public testing::TestWithParam<LayoutCase> {};

// A bitmap over bounds (l, t, r, b) has ceil(r - l) + 1 columns and ceil(b - t) + 1 rows; 32-bit
// rows are exactly 4 bytes a column, other rows are padded to a multiple of 4 bytes.
TEST_P(BitmapLayout, SizesFollowTheBounds)
{
	const LayoutCase& c = GetParam();
	BBitmap bitmap(c.bounds, c.space);
	ASSERT_EQ(bitmap.InitCheck(), B_OK);
	EXPECT_TRUE(bitmap.IsValid());
	EXPECT_EQ(bitmap.Bounds(), c.bounds);
	EXPECT_EQ(bitmap.ColorSpace(), c.space);
	EXPECT_EQ(bitmap.Bounds().IntegerWidth(), c.integerWidth);
	EXPECT_EQ(bitmap.Bounds().IntegerHeight(), c.integerHeight);
	EXPECT_EQ(bitmap.BytesPerRow(), c.bytesPerRow);
	EXPECT_EQ(bitmap.BitsLength(), c.bytesPerRow * (c.integerHeight + 1));
	EXPECT_NE(bitmap.Bits(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Bounds, BitmapLayout, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
	                         return info.param.label;
                         });

struct BadCase {
	const char* label;
	BRect bounds;
	color_space space;
	status_t status;
};

const float kInf = std::numeric_limits<float>::infinity();

const BadCase kBadBitmaps[] = {
    {"NaNRight", BRect(0, 0, NAN, 10), B_RGBA32, B_BAD_VALUE},
    {"NaNLeft", BRect(NAN, 0, 10, 10), B_RGBA32, B_BAD_VALUE},
    {"InfiniteBottom", BRect(0, 0, 10, kInf), B_RGB32, B_BAD_VALUE},
    {"NegativeInfiniteTop", BRect(0, -kInf, 10, 10), B_RGB32, B_BAD_VALUE},
    {"RightLeftOfLeft", BRect(5, 0, 4, 10), B_RGBA32, B_BAD_VALUE},
    {"BottomAboveTop", BRect(0, 5, 10, 4), B_RGBA32, B_BAD_VALUE},
    {"DefaultRect", BRect(), B_RGBA32, B_BAD_VALUE},
    {"UnknownSpace", BRect(0, 0, 9, 9), static_cast<color_space>(0x1234), B_BAD_VALUE},
    {"NoSpace", BRect(0, 0, 9, 9), B_NO_COLOR_SPACE, B_BAD_VALUE},
    {"PastTheCeiling", BRect(0, 0, 65535, 65535), B_RGBA32, B_NO_MEMORY},
    {"WidthPastInt32", BRect(0, 0, 3e9f, 0), B_RGBA32, B_NO_MEMORY},
    {"HugeBoth", BRect(-3e38f, -3e38f, 3e38f, 3e38f), B_RGBA32, B_NO_MEMORY},
    {"OneBitTooWide", BRect(0, 0, 2.5e9f, 0), B_GRAY1, B_NO_MEMORY},
};

void PrintTo(const BadCase& c, std::ostream* out)
{
	*out << c.label;
}

class BadBitmap : public testing::TestWithParam<BadCase> {};

// Bounds that cannot make a bitmap give one whose InitCheck() says why and that has no pixel
// memory, instead of undefined behaviour or an exception.
TEST_P(BadBitmap, IsRefusedWithoutMemory)
{
	const BadCase& c = GetParam();
	BBitmap bitmap(c.bounds, c.space);
	EXPECT_EQ(bitmap.InitCheck(), c.status);
	EXPECT_FALSE(bitmap.IsValid());
	EXPECT_EQ(bitmap.Bits(), nullptr);
	EXPECT_EQ(bitmap.BitsLength(), 0);
}

INSTANTIATE_TEST_SUITE_P(Bounds, BadBitmap, testing::ValuesIn(kBadBitmaps),
                         [](const testing::TestParamInfo<BadCase>& info) {
	                         return info.param.label;
                         });

// In both 32-bit colour spaces every row is exactly 4 bytes a column, so that the rows of pixel
// memory follow each other without gaps and the whole image is one run of pixel words.
TEST(BitmapLayout, ThirtyTwoBitRowsHaveNoGaps)
{
	for (color_space space : {B_RGB32, B_RGBA32}) {
		for (float right : {0.0f, 1.0f, 2.0f, 3.0f, 4.5f, 6.0f, 14.25f, 99.0f, 1022.0f}) {
			for (BRect bounds : {BRect(0, 0, right, 2), BRect(-7.5f, 3, right, 4.2f)}) {
				BBitmap bitmap(bounds, space);
				ASSERT_TRUE(bitmap.IsValid());
				int32 columns = bounds.IntegerWidth() + 1;
				int32 rows = bounds.IntegerHeight() + 1;
				EXPECT_EQ(bitmap.BytesPerRow(), 4 * columns) << "right " << right;
				EXPECT_EQ(bitmap.BitsLength(), 4 * columns * rows) << "right " << right;
			}
		}
	}
}

// New pixel memory is zero, small or large, also when it reuses memory a freed bitmap wrote.
TEST(BitmapMemory, NewMemoryIsZero)
{
	for (float side : {7.0f, 2047.0f}) {
		for (int round = 0; round < 2; round++) {
			BBitmap bitmap(BRect(0, 0, side, side), B_RGBA32);
			ASSERT_TRUE(bitmap.IsValid());
			const uint8* bytes = static_cast<const uint8*>(bitmap.Bits());
			size_t nonZero = 0;
			for (int32 i = 0; i < bitmap.BitsLength(); i++)
				nonZero += bytes[i] != 0;
			EXPECT_EQ(nonZero, 0u) << "side " << side << ", round " << round;
			memset(bitmap.Bits(), 0xA5, bitmap.BitsLength());
		}
	}
}

// The lock gives one thread at a time exclusive use, and the holder may take it again.
TEST(BitmapLock, ExcludesOtherThreads)
{
	BBitmap bitmap(BRect(0, 0, 0, 0), B_RGB32);
	EXPECT_FALSE(bitmap.IsLocked());
	ASSERT_TRUE(bitmap.Lock());
	ASSERT_TRUE(bitmap.Lock());
	bool lockedElsewhere = true;
	std::thread([&] { lockedElsewhere = bitmap.IsLocked(); }).join();
	EXPECT_FALSE(lockedElsewhere);
	bitmap.Unlock();
	EXPECT_TRUE(bitmap.IsLocked());
	bitmap.Unlock();
	EXPECT_FALSE(bitmap.IsLocked());

	const int kIncrements = 20000;
	int counter = 0;
	auto work = [&] {
		for (int i = 0; i < kIncrements; i++) {
			bitmap.Lock();
			int seen = counter;
			std::this_thread::yield();
			counter = seen + 1;
			bitmap.Unlock();
			if (i % 1000 == 0)
				std::this_thread::yield();
		}
	};
	std::thread other(work);
	work();
	other.join();
	EXPECT_EQ(counter, 2 * kIncrements);
}

// Views attach only to bitmaps made to accept them, to one bitmap at a time, and are detached
// when either side goes away first.
TEST(BitmapViews, AttachAndDetach)
{
	BBitmap plain(BRect(0, 0, 9, 9), B_RGBA32, false);
	BBitmap drawable(BRect(0, 0, 9, 9), B_RGBA32, true);
	BView view(BRect(0, 0, 9, 9), "drawer", B_FOLLOW_NONE, B_WILL_DRAW);
	EXPECT_STREQ(view.Name(), "drawer");
	EXPECT_EQ(view.Frame(), BRect(0, 0, 9, 9));

	plain.AddChild(&view);
	EXPECT_EQ(view.Bitmap(), nullptr);
	EXPECT_EQ(plain.CountChildren(), 0);

	drawable.AddChild(&view);
	EXPECT_EQ(view.Bitmap(), &drawable);
	EXPECT_EQ(drawable.ChildAt(0), &view);
	EXPECT_TRUE(drawable.RemoveChild(&view));
	EXPECT_FALSE(drawable.RemoveChild(&view));
	EXPECT_EQ(view.Bitmap(), nullptr);

	{
		BView* temporary = new BView(BRect(0, 0, 1, 1), "temporary", B_FOLLOW_NONE, 0);
		drawable.AddChild(temporary);
		delete temporary;
		EXPECT_EQ(drawable.CountChildren(), 0);
	}
	{
		BBitmap* shortLived = new BBitmap(BRect(0, 0, 1, 1), B_RGB32, true);
		shortLived->AddChild(&view);
		delete shortLived;
		EXPECT_EQ(view.Bitmap(), nullptr);
	}
}

} // namespace
