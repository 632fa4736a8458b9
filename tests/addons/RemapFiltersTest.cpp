// The quarter turns and mirror images: where each pixel word lands, round trips, and every
// pixel of awkwardly sized images compared with a plain loop over the placement.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct Point {
	int32 x;
	int32 y;
};

// Where source pixel (x, y) goes, with W and H the integer width and height of the source.
typedef Point (*Landing)(int32 x, int32 y, int32 W, int32 H);

struct RemapFilter {
	const char* deliverable;
	// True when the destination is the source's rectangle turned on its side.
	bool turnsSides;
	Landing landing;
};

const RemapFilter kTurnRight = {"TurnRight", true, [](int32 x, int32 y, int32, int32 H) {
	                                return Point{H - y, x};
                                }};
const RemapFilter kTurnLeft = {"TurnLeft", true, [](int32 x, int32 y, int32 W, int32) {
	                               return Point{y, W - x};
                               }};
const RemapFilter kRowMirror = {"RowMirror", false, [](int32 x, int32 y, int32, int32 H) {
	                                return Point{x, H - y};
                                }};
const RemapFilter kColumnMirror = {"ColumnMirror", false, [](int32 x, int32 y, int32 W, int32) {
	                                   return Point{W - x, y};
                                   }};

const RemapFilter kRemapFilters[] = {kTurnRight, kTurnLeft, kRowMirror, kColumnMirror};

void PrintTo(const RemapFilter& filter, std::ostream* out)
{
	*out << filter.deliverable;
}

BitmapPtr RunFilter(const char* deliverable, BBitmap* source)
{
	FilterPtr filter = LoadFilter(deliverable);
	if (filter == nullptr)
		return NULL;
	return BitmapPtr(filter->Run(source));
}

// The straightforward loop: every source word written where the placement says.
BitmapPtr Reference(const RemapFilter& filter, const BBitmap& source)
{
	BRect bounds = source.Bounds();
	int32 W = bounds.IntegerWidth();
	int32 H = bounds.IntegerHeight();
	BitmapPtr expected = MakeBitmap(
	    filter.turnsSides ? BRect(0, 0, bounds.bottom, bounds.right) : bounds, source.ColorSpace());
	for (int32 y = 0; y <= H; y++) {
		for (int32 x = 0; x <= W; x++) {
			Point to = filter.landing(x, y, W, H);
			SetWordAt(*expected, to.x, to.y, WordAt(source, x, y));
		}
	}
	return expected;
}

// Equal bounds, colour space and words; on a difference, names the first pixel that differs.
testing::AssertionResult SameBitmap(const BBitmap& expected, const BBitmap& actual)
{
	if (actual.Bounds() != expected.Bounds())
		return testing::AssertionFailure() << "bounds differ";
	if (actual.ColorSpace() != expected.ColorSpace())
		return testing::AssertionFailure() << "colour spaces differ";
	int32 width = expected.Bounds().IntegerWidth() + 1;
	int32 height = expected.Bounds().IntegerHeight() + 1;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++) {
			if (WordAt(actual, x, y) != WordAt(expected, x, y)) {
				return testing::AssertionFailure() << "first difference at (" << x << ", " << y
				                                   << ") of " << width << " x " << height;
			}
		}
	}
	return testing::AssertionSuccess();
}

struct LandingCase {
	const char* label;
	const char* deliverable;
	Point from;
	Point to;
	BRect bounds;
};

// The 3 x 2 source: the rotations give 2 x 3, the mirror images keep 3 x 2.
const LandingCase kLandingCases[] = {
    {"ClockwiseTopLeft", "TurnRight", {0, 0}, {1, 0}, BRect(0, 0, 1, 2)},
    {"ClockwiseBottomRight", "TurnRight", {2, 1}, {0, 2}, BRect(0, 0, 1, 2)},
    {"CounterClockwiseTopLeft", "TurnLeft", {0, 0}, {0, 2}, BRect(0, 0, 1, 2)},
    {"CounterClockwiseBottomRight", "TurnLeft", {2, 1}, {1, 0}, BRect(0, 0, 1, 2)},
    {"RowMirrorTopLeft", "RowMirror", {0, 0}, {0, 1}, BRect(0, 0, 2, 1)},
    {"RowMirrorBottomRight", "RowMirror", {2, 1}, {2, 0}, BRect(0, 0, 2, 1)},
    {"ColumnMirrorTopLeft", "ColumnMirror", {0, 0}, {2, 0}, BRect(0, 0, 2, 1)},
    {"ColumnMirrorBottomRight", "ColumnMirror", {2, 1}, {0, 1}, BRect(0, 0, 2, 1)},
};

class RemapLanding : public testing::TestWithParam<LandingCase> {};

// In a 3 x 2 source of distinct words, the named pixel lands at the named place of a
// destination with the named bounds.
TEST_P(RemapLanding, ThreeByTwo)
{
	BitmapPtr source = MakeBitmap(3, 2);
	for (int32 y = 0; y < 2; y++) {
		for (int32 x = 0; x < 3; x++)
			SetWordAt(*source, x, y, Word(10 * x, 20 * y, 7, 100 + 3 * x + y));
	}
	BitmapPtr result = RunFilter(GetParam().deliverable, source.get());
	ASSERT_NE(result, nullptr);

	EXPECT_EQ(result->Bounds(), GetParam().bounds);
	EXPECT_EQ(WordAt(*result, GetParam().to.x, GetParam().to.y),
	          WordAt(*source, GetParam().from.x, GetParam().from.y));
}

INSTANTIATE_TEST_SUITE_P(Places, RemapLanding, testing::ValuesIn(kLandingCases),
                         [](const testing::TestParamInfo<LandingCase>& info) {
	                         return info.param.label;
                         });

struct RoundTrip {
	const char* label;
	std::vector<const char*> filters;
};

const RoundTrip kRoundTrips[] = {
    {"ClockwiseThenCounterClockwise", {"TurnRight", "TurnLeft"}},
    {"CounterClockwiseThenClockwise", {"TurnLeft", "TurnRight"}},
    {"FourClockwise", {"TurnRight", "TurnRight", "TurnRight", "TurnRight"}},
    {"FourCounterClockwise", {"TurnLeft", "TurnLeft", "TurnLeft", "TurnLeft"}},
    {"RowMirrorTwice", {"RowMirror", "RowMirror"}},
    {"ColumnMirrorTwice", {"ColumnMirror", "ColumnMirror"}},
    {"HalfTurnThenBothMirrors", {"TurnRight", "TurnRight", "RowMirror", "ColumnMirror"}},
};

struct SourceShape {
	const char* label;
	BRect bounds;
	color_space space;
};

const SourceShape kSourceShapes[] = {
    {"Odd37x23", BRect(0, 0, 36, 22), B_RGBA32},
    {"RGB32", BRect(0, 0, 70, 64), B_RGB32},
    {"FractionalBounds", BRect(0, 0, 6.5f, 2.25f), B_RGBA32},
};

void PrintTo(const RoundTrip& trip, std::ostream* out)
{
	*out << trip.label;
}

void PrintTo(const SourceShape& shape, std::ostream* out)
{
	*out << shape.label;
}

class RemapRoundTrip : public testing::TestWithParam<std::tuple<RoundTrip, SourceShape>> {};

// Turns and mirror images that add up to nothing give back the source exactly, bounds and
// colour space included.
TEST_P(RemapRoundTrip, GivesBackTheSource)
{
	const SourceShape& start = std::get<1>(GetParam());
	BitmapPtr source = MakeBitmap(start.bounds, start.space);
	FillRandom(source.get(), 11);

	BitmapPtr current;
	for (const char* deliverable : std::get<0>(GetParam()).filters) {
		current = RunFilter(deliverable, current == nullptr ? source.get() : current.get());
		ASSERT_NE(current, nullptr) << deliverable;
	}
	EXPECT_TRUE(SameBitmap(*source, *current));
}

INSTANTIATE_TEST_SUITE_P(Sequences, RemapRoundTrip,
                         testing::Combine(testing::ValuesIn(kRoundTrips),
                                          testing::ValuesIn(kSourceShapes)),
                         [](const testing::TestParamInfo<RemapRoundTrip::ParamType>& info) {
	                         return std::string(std::get<0>(info.param).label) + "_" +
	                                std::get<1>(info.param).label;
                         });

// "Flip Horizontal" turns a red top row over blue rows into a red bottom row, and "Flip
// Vertical" a red left column into a red right column.
TEST(RemapMirror, RedEdgeMovesToTheOppositeEdge)
{
	const uint32 kRed = Word(255, 0, 0, 255);
	const uint32 kBlue = Word(0, 0, 255, 255);
	const int32 kWidth = 5;
	const int32 kHeight = 4;
	BitmapPtr topRed = MakeBitmap(kWidth, kHeight);
	BitmapPtr leftRed = MakeBitmap(kWidth, kHeight);
	for (int32 y = 0; y < kHeight; y++) {
		for (int32 x = 0; x < kWidth; x++) {
			SetWordAt(*topRed, x, y, y == 0 ? kRed : kBlue);
			SetWordAt(*leftRed, x, y, x == 0 ? kRed : kBlue);
		}
	}

	BitmapPtr rowsReversed = RunFilter("RowMirror", topRed.get());
	BitmapPtr eachRowReversed = RunFilter("ColumnMirror", leftRed.get());
	ASSERT_NE(rowsReversed, nullptr);
	ASSERT_NE(eachRowReversed, nullptr);
	for (int32 y = 0; y < kHeight; y++) {
		for (int32 x = 0; x < kWidth; x++) {
			EXPECT_EQ(WordAt(*rowsReversed, x, y), y == kHeight - 1 ? kRed : kBlue)
			    << x << ", " << y;
			EXPECT_EQ(WordAt(*eachRowReversed, x, y), x == kWidth - 1 ? kRed : kBlue)
			    << x << ", " << y;
		}
	}
}

class RemapEachFilter : public testing::TestWithParam<RemapFilter> {};

// Alpha travels with its pixel word: transparent, opaque and half-covered pixels keep their
// alpha and their colour, whatever the colour space says about the alpha byte.
TEST_P(RemapEachFilter, AlphaTravelsWithTheWord)
{
	const uint8 kAlphas[] = {0, 1, 127, 128, 254, 255};
	for (color_space space : {B_RGBA32, B_RGB32}) {
		BitmapPtr source = MakeBitmap(6, 5, space);
		for (int32 y = 0; y < 5; y++) {
			for (int32 x = 0; x < 6; x++)
				SetWordAt(*source, x, y, Word(200 - x, 40 * y, x * y, kAlphas[(x + y) % 6]));
		}
		BitmapPtr result = RunFilter(GetParam().deliverable, source.get());
		ASSERT_NE(result, nullptr);
		EXPECT_TRUE(SameBitmap(*Reference(GetParam(), *source), *result));
	}
}

// Sources the pixel accessor cannot address give NULL: a mirror image's destination is the
// source's own rectangle, so an origin off (0, 0) must not reach the loop.
TEST_P(RemapEachFilter, RefusesSourcesOutsideItsDomain)
{
	const SourceShape kRefused[] = {
	    {"LeftNotZero", BRect(2, 0, 9, 9), B_RGBA32},
	    {"TopNotZero", BRect(0, 3, 9, 9), B_RGBA32},
	    {"NegativeOrigin", BRect(-4, -4, 4, 4), B_RGBA32},
	    {"EightBitIndexed", BRect(0, 0, 9, 9), B_CMAP8},
	    {"NoPixelMemory", BRect(0, 0, -3, 9), B_RGBA32},
	};
	for (const SourceShape& refused : kRefused) {
		BitmapPtr source = MakeBitmap(refused.bounds, refused.space);
		EXPECT_EQ(RunFilter(GetParam().deliverable, source.get()), nullptr) << refused.label;
	}
}

INSTANTIATE_TEST_SUITE_P(Filters, RemapEachFilter, testing::ValuesIn(kRemapFilters),
                         [](const testing::TestParamInfo<RemapFilter>& info) {
	                         return info.param.deliverable;
                         });

struct Size {
	int32 width;
	int32 height;
};

// A single pixel, single rows and columns, primes, one below, at and one above the 16-pixel
// block and 64-pixel tile edges and their multiples, a band of 1024 rows and one more block,
// and sizes of at least 8 MiB, which take the streaming stores,
// with rows aligned and misaligned.
const Size kStressSizes[] = {
    {1, 1},     {1, 1000},  {1000, 1},    {2, 3},       {7, 5},       {67, 61},
    {127, 131}, {63, 63},   {64, 64},     {65, 65},     {63, 65},     {65, 64},
    {64, 129},  {128, 127}, {1, 2100000}, {2100000, 1}, {2048, 1024}, {1451, 1447},
    {15, 17},   {16, 16},   {17, 16},     {48, 1040},   {1041, 33},
};

void PrintTo(const Size& size, std::ostream* out)
{
	*out << size.width << " x " << size.height;
}

class RemapStress : public testing::TestWithParam<std::tuple<RemapFilter, Size>> {};

// Every pixel of the result equals the straightforward loop's, whatever the tiling does at
// the edges.
TEST_P(RemapStress, MatchesTheReferenceLoop)
{
	const Size& size = std::get<1>(GetParam());
	BitmapPtr source = MakeBitmap(size.width, size.height);
	FillRandom(source.get(), size.width * 31 + size.height);

	BitmapPtr result = RunFilter(std::get<0>(GetParam()).deliverable, source.get());
	ASSERT_NE(result, nullptr);
	EXPECT_TRUE(SameBitmap(*Reference(std::get<0>(GetParam()), *source), *result));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RemapStress,
                         testing::Combine(testing::ValuesIn(kRemapFilters),
                                          testing::ValuesIn(kStressSizes)),
                         [](const testing::TestParamInfo<RemapStress::ParamType>& info) {
	                         const Size& size = std::get<1>(info.param);
	                         return std::string(std::get<0>(info.param).deliverable) + "_" +
	                                std::to_string(size.width) + "x" + std::to_string(size.height);
                         });

class RemapPhotograph : public testing::TestWithParam<std::tuple<RemapFilter, const char*>> {};

// On the sample photographs every pixel equals the straightforward loop's.
TEST_P(RemapPhotograph, MatchesTheReferenceLoop)
{
	BitmapPtr source = ReadSample(std::get<1>(GetParam()));
	ASSERT_NE(source, nullptr);
	BitmapPtr result = RunFilter(std::get<0>(GetParam()).deliverable, source.get());
	ASSERT_NE(result, nullptr);
	EXPECT_TRUE(SameBitmap(*Reference(std::get<0>(GetParam()), *source), *result));
}

INSTANTIATE_TEST_SUITE_P(Samples, RemapPhotograph,
                         testing::Combine(testing::ValuesIn(kRemapFilters),
                                          testing::Values("astronaut.png", "chelsea.png",
                                                          "logo.png")),
                         [](const testing::TestParamInfo<RemapPhotograph::ParamType>& info) {
	                         std::string sample = std::get<1>(info.param);
	                         return std::string(std::get<0>(info.param).deliverable) + "_" +
	                                sample.substr(0, sample.find('.'));
                         });

} // namespace
