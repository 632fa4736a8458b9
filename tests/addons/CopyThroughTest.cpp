// The copy filter: an exact copy of 32-bit images, and NULL for anything it cannot address.
#include <cmath>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct CopyCase {
	const char* label;
	BRect bounds;
	color_space space;
};

const CopyCase kCopyCases[] = {
    {"OnePixelRGBA32", BRect(0, 0, 0, 0), B_RGBA32},
    {"OnePixelRGB32", BRect(0, 0, 0, 0), B_RGB32},
    {"HundredByFiftyRGBA32", BRect(0, 0, 99, 49), B_RGBA32},
    {"HundredByFiftyRGB32", BRect(0, 0, 99, 49), B_RGB32},
    {"FractionalBounds", BRect(0, 0, 6.5f, 2.25f), B_RGBA32},
};

void PrintTo(const CopyCase& c, std::ostream* out)
{
	*out << c.label;
}

class CopyThroughCopies : public testing::TestWithParam<CopyCase> {};

// Every channel of every pixel, alpha included, comes out as it went in, over the same bounds
// and in the same colour space.
TEST_P(CopyThroughCopies, EveryChannelOfEveryPixel)
{
	FilterPtr copy = LoadFilter("CopyThrough");
	ASSERT_NE(copy, nullptr);
	BitmapPtr source = MakeBitmap(GetParam().bounds, GetParam().space);
	ASSERT_TRUE(source->IsValid());
	FillRandom(source.get(), 7);

	BitmapPtr result(copy->Run(source.get()));
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(result->Bounds(), source->Bounds());
	EXPECT_EQ(result->ColorSpace(), GetParam().space);
	EXPECT_EQ(result->BytesPerRow(), source->BytesPerRow());
	EXPECT_EQ(Words(*result), Words(*source));
}

INSTANTIATE_TEST_SUITE_P(Sources, CopyThroughCopies, testing::ValuesIn(kCopyCases),
                         [](const testing::TestParamInfo<CopyCase>& info) {
	                         return info.param.label;
                         });

struct OutOfDomainCase {
	const char* label;
	BRect bounds;
	color_space space;
};

const OutOfDomainCase kOutOfDomain[] = {
    {"EightBitIndexed", BRect(0, 0, 9, 9), B_CMAP8},
    {"EightBitGrey", BRect(0, 0, 9, 9), B_GRAY8},
    {"TwentyFourBit", BRect(0, 0, 9, 9), B_RGB24},
    {"SixteenBit", BRect(0, 0, 9, 9), B_RGB16},
    {"BigEndian32", BRect(0, 0, 9, 9), B_RGBA32_BIG},
    {"LeftNotZero", BRect(3, 0, 12, 9), B_RGBA32},
    {"TopNotZero", BRect(0, 4, 9, 13), B_RGBA32},
    {"NegativeOrigin", BRect(-5, -5, 4, 4), B_RGBA32},
    {"NoPixelMemoryNaN", BRect(0, 0, NAN, 9), B_RGBA32},
    {"NoPixelMemoryTooLarge", BRect(0, 0, 99999, 99999), B_RGBA32},
    {"NoPixelMemoryInverted", BRect(0, 0, -4, 9), B_RGB32},
};

void PrintTo(const OutOfDomainCase& c, std::ostream* out)
{
	*out << c.label;
}

class CopyThroughRefuses : public testing::TestWithParam<OutOfDomainCase> {};

// A source the pixel accessor cannot address gives NULL, silently and without touching memory
// out of bounds (the sanitizer build checks the latter, and that nothing is leaked).
TEST_P(CopyThroughRefuses, SourceOutsideItsDomain)
{
	FilterPtr copy = LoadFilter("CopyThrough");
	ASSERT_NE(copy, nullptr);
	BitmapPtr source = MakeBitmap(GetParam().bounds, GetParam().space);
	BBitmap* result = reinterpret_cast<BBitmap*>(1);
	std::string printed = CaptureStdout([&] { result = copy->Run(source.get()); });
	EXPECT_EQ(result, nullptr);
	EXPECT_EQ(printed, "");
}

INSTANTIATE_TEST_SUITE_P(Sources, CopyThroughRefuses, testing::ValuesIn(kOutOfDomain),
                         [](const testing::TestParamInfo<OutOfDomainCase>& info) {
	                         return info.param.label;
                         });

} // namespace
