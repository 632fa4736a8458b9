// The kit's scaled drawing on its own: BView::DrawBitmap() into a bitmap, with odd rectangles,
// clipping, and the requests it must refuse.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <View.h>

#include "ScaleReference.h"
#include "TestSupport.h"

namespace {

// What a canvas holds where nothing was drawn.
const uint32 kMarker = Word(1, 2, 3, 4);

// A bitmap filled with kMarker (every byte of it, whatever its colour space), locked, with a view
// attached over `frame` (all of it by default).
class Canvas {
public:
	Canvas(int32 width, int32 height, color_space space = B_RGBA32, BRect frame = BRect())
	    : fBitmap(new BBitmap(BRect(0, 0, width - 1, height - 1), space, true))
	{
		uint8* bits = static_cast<uint8*>(fBitmap->Bits());
		for (int32 i = 0; i < fBitmap->BitsLength(); i++)
			bits[i] = (uint8)(kMarker >> (8 * (i % 4)));
		fView.reset(new BView(frame.IsValid() ? frame : fBitmap->Bounds(), "canvas", B_FOLLOW_NONE,
		                      B_WILL_DRAW));
		fBitmap->Lock();
		fBitmap->AddChild(fView.get());
	}

	~Canvas()
	{
		fBitmap->RemoveChild(fView.get());
		fBitmap->Unlock();
	}

	status_t Draw(const BBitmap* source, BRect from, BRect to)
	{
		fView->DrawBitmap(source, from, to);
		fView->Sync();
		return fView->DrawStatus();
	}

	BBitmap& Bitmap() { return *fBitmap; }
	BView& View() { return *fView; }
	bool Untouched() const
	{
		const uint8* bits = static_cast<const uint8*>(fBitmap->Bits());
		for (int32 i = 0; i < fBitmap->BitsLength(); i++) {
			if (bits[i] != (uint8)(kMarker >> (8 * (i % 4))))
				return false;
		}
		return true;
	}

private:
	BitmapPtr fBitmap;
	std::unique_ptr<BView> fView;
};

BitmapPtr RandomSource(BRect bounds, color_space space, uint32 seed)
{
	BitmapPtr source = MakeBitmap(bounds, space);
	FillRandom(source.get(), seed);
	return source;
}

struct RectangleCase {
	const char* label;
	BRect sourceBounds;
	BRect from;
	BRect to;
	int32 canvasWidth;
	int32 canvasHeight;
};

void PrintTo(const RectangleCase& c, std::ostream* out)
{
	*out << c.label;
}

const RectangleCase kRectangles[] = {
    {"EnlargePart", BRect(0, 0, 8, 6), BRect(2, 1, 5, 4), BRect(1, 2, 10, 8), 12, 10},
    {"ReducePart", BRect(0, 0, 15, 11), BRect(3, 2, 14, 11), BRect(0, 0, 3, 2), 6, 5},
    {"NarrowerAndTaller", BRect(0, 0, 11, 2), BRect(0, 0, 11, 2), BRect(1, 1, 5, 9), 7, 11},
    {"AllIntoOnePixel", BRect(0, 0, 15, 11), BRect(0, 0, 15, 11), BRect(2, 1, 2, 1), 4, 3},
    {"OnePixelFills", BRect(0, 0, 0, 0), BRect(0, 0, 0, 0), BRect(0, 0, 5, 5), 6, 6},
    {"SameSizeMoved", BRect(0, 0, 4, 4), BRect(0, 0, 4, 4), BRect(3, 3, 7, 7), 9, 9},
    {"ThreeToTwo", BRect(0, 0, 8, 8), BRect(0, 0, 8, 8), BRect(0, 0, 5, 5), 6, 6},
    {"SourceNotAtOrigin", BRect(10, 20, 17, 25), BRect(12, 21, 15, 24), BRect(0, 0, 6, 6), 8, 8},
    {"DoubleLongRows", BRect(0, 0, 20, 2), BRect(0, 0, 20, 2), BRect(0, 0, 40, 4), 42, 6},
};

class DrawRectangles : public testing::TestWithParam<std::tuple<RectangleCase, color_space>> {};

// Any source rectangle drawn into any destination rectangle inside the bitmaps fills exactly
// the destination rectangle, within 1 of the double-precision reference, and nothing else.
TEST_P(DrawRectangles, FillTheDestinationLikeTheReference)
{
	const auto& [c, space] = GetParam();
	BitmapPtr source = RandomSource(c.sourceBounds, space, 3);
	Canvas canvas(c.canvasWidth, c.canvasHeight, space);
	ASSERT_EQ(canvas.Draw(source.get(), c.from, c.to), B_OK);

	PixelRect from = {(int32)(c.from.left - c.sourceBounds.left),
	                  (int32)(c.from.top - c.sourceBounds.top), c.from.IntegerWidth() + 1,
	                  c.from.IntegerHeight() + 1};
	int32 width = c.to.IntegerWidth() + 1;
	int32 height = c.to.IntegerHeight() + 1;
	std::vector<uint32> expected = ReferenceScale(*source, from, width, height);
	std::vector<uint32> drawn;
	for (int32 y = 0; y < c.canvasHeight; y++) {
		for (int32 x = 0; x < c.canvasWidth; x++) {
			bool inside = x >= c.to.left && x <= c.to.right && y >= c.to.top && y <= c.to.bottom;
			if (inside)
				drawn.push_back(WordAt(canvas.Bitmap(), x, y));
			else
				EXPECT_EQ(WordAt(canvas.Bitmap(), x, y), kMarker) << x << ", " << y;
		}
	}
	EXPECT_LE(LargestByteDifference(drawn, expected), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, DrawRectangles,
                         testing::Combine(testing::ValuesIn(kRectangles),
                                          testing::Values(B_RGB32, B_RGBA32)));

// Enlarging a source whose rows are opaque in runs, with a few pixels of other alpha between
// them, so that destination rows are made from opaque rows, from rows with transparency, and
// from one of each, in every order: each within 1 of the reference.
TEST(DrawEnlargements, RowsOfMixedOpacityDrawLikeTheReference)
{
	const int32 kWidth = 37;
	const int32 kHeight = 23;
	BitmapPtr source = RandomSource(BRect(0, 0, kWidth - 1, kHeight - 1), B_RGBA32, 5);
	for (int32 y = 0; y < kHeight; y++) {
		for (int32 x = 0; x < kWidth; x++) {
			uint32 word = WordAt(*source, x, y);
			bool seeThrough = (y % 7 == 3 && x == (y * 5) % kWidth) || y % 11 == 10;
			SetWordAt(*source, x, y, seeThrough ? word : word | 0xff000000u);
		}
	}
	for (int32 scale : {2, 3}) {
		int32 width = scale * kWidth - 1;
		int32 height = scale * kHeight - 1;
		Canvas canvas(width, height);
		ASSERT_EQ(canvas.Draw(source.get(), source->Bounds(), BRect(0, 0, width - 1, height - 1)),
		          B_OK);
		std::vector<uint32> expected =
		    ReferenceScale(*source, {0, 0, kWidth, kHeight}, width, height);
		EXPECT_LE(LargestByteDifference(Words(canvas.Bitmap()), expected), 1) << scale;
	}
}

// A destination rectangle reaching past the bitmap is cut at its edges: what lies inside is
// what the same drawing gives in a bitmap large enough to hold all of it.
TEST(DrawClipping, DestinationBeyondTheBitmapIsCut)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 7, 7), B_RGBA32, 5);
	Canvas small(10, 10);
	Canvas large(20, 20);
	ASSERT_EQ(small.Draw(source.get(), source->Bounds(), BRect(-3, -2, 12, 13)), B_OK);
	ASSERT_EQ(large.Draw(source.get(), source->Bounds(), BRect(2, 3, 17, 18)), B_OK);
	for (int32 y = 0; y < 10; y++) {
		for (int32 x = 0; x < 10; x++)
			ASSERT_EQ(WordAt(small.Bitmap(), x, y), WordAt(large.Bitmap(), x + 5, y + 5));
	}
}

// A source rectangle reaching past its bitmap draws only the part that exists, where it falls;
// the destination pixels that would show the missing part keep what they held.
TEST(DrawClipping, SourceBeyondItsBitmapDrawsWhatExists)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGB32, 9);
	Canvas canvas(8, 4, B_RGB32);
	ASSERT_EQ(canvas.Draw(source.get(), BRect(-2, 0, 5, 3), BRect(0, 0, 7, 3)), B_OK);
	for (int32 y = 0; y < 4; y++) {
		for (int32 x = 0; x < 8; x++) {
			uint32 expected = x >= 2 && x <= 5 ? WordAt(*source, x - 2, y) : kMarker;
			EXPECT_EQ(WordAt(canvas.Bitmap(), x, y), expected) << x << ", " << y;
		}
	}
}

// Drawing lands only within the view's frame, in the view's own coordinates.
TEST(DrawClipping, ViewFrameCuts)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGBA32, 13);
	Canvas framed(8, 8, B_RGBA32, BRect(2, 2, 5, 5));
	Canvas whole(8, 8);
	ASSERT_EQ(framed.Draw(source.get(), source->Bounds(), BRect(-2, -2, 5, 5)), B_OK);
	ASSERT_EQ(whole.Draw(source.get(), source->Bounds(), BRect(0, 0, 7, 7)), B_OK);
	for (int32 y = 0; y < 8; y++) {
		for (int32 x = 0; x < 8; x++) {
			bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 5;
			uint32 expected = inside ? WordAt(whole.Bitmap(), x, y) : kMarker;
			EXPECT_EQ(WordAt(framed.Bitmap(), x, y), expected) << x << ", " << y;
		}
	}
}

struct CoordinateCase {
	const char* label;
	BRect from;
	BRect to;
};

void PrintTo(const CoordinateCase& c, std::ostream* out)
{
	*out << c.label;
}

const float kInfinity = std::numeric_limits<float>::infinity();

const CoordinateCase kBadCoordinates[] = {
    {"NaNInSource", BRect(0, NAN, 3, 3), BRect(0, 0, 3, 3)},
    {"InfiniteDestination", BRect(0, 0, 3, 3), BRect(0, 0, kInfinity, 3)},
    {"NegativeInfiniteDestination", BRect(0, 0, 3, 3), BRect(-kInfinity, 0, 3, 3)},
    {"ReversedDestination", BRect(0, 0, 3, 3), BRect(3, 0, 0, 3)},
    {"ReversedSource", BRect(0, 3, 3, 0), BRect(0, 0, 3, 3)},
    {"FarBeyondInt32", BRect(0, 0, 3, 3), BRect(0, 0, 3e9f, 3)},
    {"HugeSource", BRect(-1e30f, 0, 1e30f, 3), BRect(0, 0, 3, 3)},
    {"DestinationOutside", BRect(0, 0, 3, 3), BRect(100, 100, 110, 110)},
    {"DestinationLeftOfIt", BRect(0, 0, 3, 3), BRect(-20, 0, -1, 3)},
    {"SourceOutside", BRect(50, 50, 60, 60), BRect(0, 0, 3, 3)},
};

class DrawCoordinates : public testing::TestWithParam<CoordinateCase> {};

// Rectangles that are not finite, reversed, too far out or with no pixel inside their bitmap
// draw nothing and are reported as B_BAD_VALUE.
TEST_P(DrawCoordinates, BadRectanglesDrawNothing)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGBA32, 17);
	Canvas canvas(6, 6);
	EXPECT_EQ(canvas.Draw(source.get(), GetParam().from, GetParam().to), B_BAD_VALUE);
	EXPECT_TRUE(canvas.Untouched());
}

INSTANTIATE_TEST_SUITE_P(Cases, DrawCoordinates, testing::ValuesIn(kBadCoordinates),
                         [](const testing::TestParamInfo<CoordinateCase>& info) {
	                         return info.param.label;
                         });

// A destination rectangle vastly larger than the bitmap is drawn, cut to the bitmap.
TEST(DrawCoordinates, HugeDestinationIsCut)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGBA32, 19);
	Canvas canvas(6, 6);
	EXPECT_EQ(canvas.Draw(source.get(), source->Bounds(), BRect(-1e6f, -1e6f, 1e6f, 1e6f)), B_OK);
	for (uint32 word : Words(canvas.Bitmap()))
		EXPECT_NE(word, kMarker);
}

struct SpaceCase {
	color_space source;
	color_space destination;
};

class DrawSpaces : public testing::TestWithParam<SpaceCase> {};

// Only B_RGB32 into B_RGB32 and B_RGBA32 into B_RGBA32 are drawn; anything else draws nothing
// and is reported as B_BAD_TYPE.
TEST_P(DrawSpaces, OtherColourSpacesDrawNothing)
{
	BitmapPtr source = MakeBitmap(4, 4, GetParam().source);
	Canvas canvas(4, 4, GetParam().destination);
	EXPECT_EQ(canvas.Draw(source.get(), source->Bounds(), BRect(0, 0, 3, 3)), B_BAD_TYPE);
	EXPECT_TRUE(canvas.Untouched());
}

INSTANTIATE_TEST_SUITE_P(Cases, DrawSpaces,
                         testing::Values(SpaceCase{B_CMAP8, B_RGBA32}, SpaceCase{B_RGB24, B_RGB32},
                                         SpaceCase{B_GRAY8, B_GRAY8}, SpaceCase{B_RGB32, B_RGBA32},
                                         SpaceCase{B_RGBA32, B_RGB32},
                                         SpaceCase{B_RGBA32_BIG, B_RGBA32_BIG}));

// A view that is not attached draws nowhere and says so; the status outlives Sync().
TEST(DrawRefusals, ViewNotAttached)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGBA32, 23);
	BView view(BRect(0, 0, 3, 3), "loose", B_FOLLOW_NONE, B_WILL_DRAW);
	view.DrawBitmap(source.get(), source->Bounds(), BRect(0, 0, 3, 3));
	view.Sync();
	EXPECT_EQ(view.DrawStatus(), B_NO_INIT);
}

// Drawing requires the lock of the bitmap the view is attached to.
TEST(DrawRefusals, BitmapNotLocked)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGBA32, 29);
	Canvas canvas(4, 4);
	canvas.Bitmap().Unlock();
	EXPECT_EQ(canvas.Draw(source.get(), source->Bounds(), BRect(0, 0, 3, 3)), B_NOT_ALLOWED);
	canvas.Bitmap().Lock();
	EXPECT_TRUE(canvas.Untouched());
}

// No bitmap, or a bitmap without pixel memory, draws nothing and is reported as B_BAD_VALUE.
TEST(DrawRefusals, NoSourcePixels)
{
	BitmapPtr empty = MakeBitmap(BRect(0, 0, NAN, 3), B_RGBA32);
	Canvas canvas(4, 4);
	EXPECT_EQ(canvas.Draw(NULL, BRect(0, 0, 3, 3), BRect(0, 0, 3, 3)), B_BAD_VALUE);
	Canvas second(4, 4);
	EXPECT_EQ(second.Draw(empty.get(), BRect(0, 0, 3, 3), BRect(0, 0, 3, 3)), B_BAD_VALUE);
	EXPECT_TRUE(canvas.Untouched());
	EXPECT_TRUE(second.Untouched());
}

// The view keeps the first failure through later successful drawing, and starts afresh when
// it is attached again.
TEST(DrawStatus, KeepsTheFirstFailureUntilAttachedAgain)
{
	BitmapPtr source = RandomSource(BRect(0, 0, 3, 3), B_RGB32, 31);
	Canvas canvas(4, 4, B_RGB32);
	EXPECT_EQ(canvas.Draw(source.get(), source->Bounds(), BRect(9, 9, 12, 12)), B_BAD_VALUE);
	EXPECT_EQ(canvas.Draw(NULL, source->Bounds(), source->Bounds()), B_BAD_VALUE);
	EXPECT_EQ(canvas.Draw(source.get(), source->Bounds(), source->Bounds()), B_BAD_VALUE);
	EXPECT_EQ(Words(canvas.Bitmap()), Words(*source));

	canvas.Bitmap().RemoveChild(&canvas.View());
	canvas.Bitmap().AddChild(&canvas.View());
	EXPECT_EQ(canvas.View().DrawStatus(), B_OK);
}

// A bitmap drawn into itself reads the picture it held before the drawing began.
TEST(DrawSelf, ReadsTheOriginal)
{
	Canvas canvas(9, 7);
	FillRandom(&canvas.Bitmap(), 37);
	BitmapPtr copy = MakeBitmap(9, 7);
	for (int32 y = 0; y < 7; y++) {
		for (int32 x = 0; x < 9; x++)
			SetWordAt(*copy, x, y, WordAt(canvas.Bitmap(), x, y));
	}
	Canvas expected(9, 7);
	ASSERT_EQ(expected.Draw(copy.get(), BRect(0, 0, 5, 4), BRect(1, 1, 8, 6)), B_OK);
	ASSERT_EQ(canvas.Draw(&canvas.Bitmap(), BRect(0, 0, 5, 4), BRect(1, 1, 8, 6)), B_OK);
	for (int32 y = 1; y < 7; y++) {
		for (int32 x = 1; x < 9; x++)
			EXPECT_EQ(WordAt(canvas.Bitmap(), x, y), WordAt(expected.Bitmap(), x, y));
	}
}

} // namespace
