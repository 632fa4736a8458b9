// The negative filter: colour channels inverted through its table, alpha kept, the source's own
// bounds, and a diagnostic line for each source or allocation it cannot serve.
#include <cmath>

#include <gtest/gtest.h>

#include "FailingAllocation.h"
#include "TestSupport.h"

namespace {

// The expected negative of one pixel word, channel by channel.
uint32 Inverted(uint32 word)
{
	uint8 blue = word & 0xff;
	uint8 green = word >> 8 & 0xff;
	uint8 red = word >> 16 & 0xff;
	return Word(255 - red, 255 - green, 255 - blue, word >> 24);
}

struct SourceCase {
	const char* label;
	BRect bounds;
	color_space space;
};

const SourceCase kSources[] = {
    {"OnePixel", BRect(0, 0, 0, 0), B_RGBA32},
    {"OnePixelRGB32", BRect(0, 0, 0, 0), B_RGB32},
    {"OddSizes", BRect(0, 0, 36, 22), B_RGBA32},
    {"OddSizesRGB32", BRect(0, 0, 36, 22), B_RGB32},
    {"NotAtOrigin", BRect(10, 20, 13, 21), B_RGB32},
    {"NegativeOrigin", BRect(-5, -3, 4, 6), B_RGBA32},
    {"FractionalBounds", BRect(0.5f, 0.25f, 7.75f, 3.5f), B_RGBA32},
};

void PrintTo(const SourceCase& c, std::ostream* out)
{
	*out << c.label;
}

class InverterInverts : public testing::TestWithParam<SourceCase> {
protected:
	void SetUp() override
	{
		filter = LoadFilter("Inverter");
		ASSERT_NE(filter, nullptr);
		source = MakeBitmap(GetParam().bounds, GetParam().space);
		ASSERT_TRUE(source->IsValid());
		FillRandom(source.get(), 41);
	}

	FilterPtr filter{NULL, FilterDeleter{}};
	BitmapPtr source;
};

// Every pixel's blue, green and red become 255 minus their value and its fourth byte is copied,
// in a destination over exactly the source's bounds and colour space, silently.
TEST_P(InverterInverts, EveryPixelOverTheSourceBounds)
{
	BBitmap* raw = NULL;
	std::string printed = CaptureStdout([&] { raw = filter->Run(source.get()); });
	BitmapPtr result(raw);
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(printed, "");
	EXPECT_EQ(result->Bounds(), source->Bounds());
	EXPECT_EQ(result->ColorSpace(), source->ColorSpace());

	std::vector<uint32> expected = Words(*source);
	for (uint32& word : expected)
		word = Inverted(word);
	EXPECT_EQ(Words(*result), expected);
}

// Applying the filter twice gives back the source exactly.
TEST_P(InverterInverts, TwiceGivesBackTheSource)
{
	BitmapPtr once(filter->Run(source.get()));
	ASSERT_NE(once, nullptr);
	BitmapPtr twice(filter->Run(once.get()));
	ASSERT_NE(twice, nullptr);
	EXPECT_EQ(twice->Bounds(), source->Bounds());
	EXPECT_EQ(Words(*twice), Words(*source));
}

INSTANTIATE_TEST_SUITE_P(Sources, InverterInverts, testing::ValuesIn(kSources),
                         [](const testing::TestParamInfo<SourceCase>& info) {
	                         return info.param.label;
                         });

// The pixel with bytes blue 0, green 128, red 255, alpha 77 becomes blue 255, green 127, red 0,
// alpha 77.
TEST(Inverter, NamedPixel)
{
	FilterPtr filter = LoadFilter("Inverter");
	ASSERT_NE(filter, nullptr);
	BitmapPtr source = MakeBitmap(1, 1, B_RGBA32);
	const uint8 bytes[4] = {0, 128, 255, 77};
	memcpy(source->Bits(), bytes, 4);

	BitmapPtr result(filter->Run(source.get()));
	ASSERT_NE(result, nullptr);
	const uint8 expected[4] = {255, 127, 0, 77};
	EXPECT_EQ(memcmp(result->Bits(), expected, 4), 0);
}

struct FailureCase {
	const char* label;
	BRect bounds;
	color_space space;
	// Nothrow allocations the run may have before they are refused.
	int32 granted;
	const char* line;
	// Nothrow allocations the run must have asked for: none when it refuses before creating
	// the destination.
	int32 requests;
};

const char* const kUnknownSpace = "Inverter: unknown colorspace\n";
const char* const kNoBitmap = "Inverter: could not allocate bitmap\n";
const char* const kNoBits = "Inverter: bits was NULL\n";
const int32 kGrantAll = FailingAllocation::kGrantAll;

const FailureCase kFailures[] = {
    {"EightBitIndexed", BRect(0, 0, 9, 9), B_CMAP8, kGrantAll, kUnknownSpace, 0},
    {"EightBitGrey", BRect(0, 0, 9, 9), B_GRAY8, kGrantAll, kUnknownSpace, 0},
    {"TwentyFourBit", BRect(0, 0, 9, 9), B_RGB24, kGrantAll, kUnknownSpace, 0},
    {"SixteenBit", BRect(0, 0, 9, 9), B_RGB16, kGrantAll, kUnknownSpace, 0},
    {"BigEndian32", BRect(0, 0, 9, 9), B_RGBA32_BIG, kGrantAll, kUnknownSpace, 0},
    {"NoColorSpace", BRect(0, 0, 9, 9), B_NO_COLOR_SPACE, kGrantAll, kUnknownSpace, 0},
    {"SpaceCheckedFirst", BRect(0, 0, 99999, 99999), B_GRAY8, 0, kUnknownSpace, 0},
    {"DestinationRefused", BRect(0, 0, 9, 9), B_RGBA32, 0, kNoBitmap, 1},
    {"DestinationRefusedNoBits", BRect(0, 0, 99999, 99999), B_RGB32, 0, kNoBitmap, 1},
    {"NoPixelMemoryTooLarge", BRect(0, 0, 99999, 99999), B_RGBA32, kGrantAll, kNoBits, 1},
    {"NoPixelMemoryTooWide", BRect(0, 0, 3e9f, 0), B_RGB32, kGrantAll, kNoBits, 1},
    {"NoPixelMemoryNaN", BRect(0, 0, NAN, 9), B_RGBA32, kGrantAll, kNoBits, 1},
    {"NoPixelMemoryInverted", BRect(0, 0, -4, 9), B_RGB32, kGrantAll, kNoBits, 1},
};

void PrintTo(const FailureCase& c, std::ostream* out)
{
	*out << c.label;
}

class InverterRefuses : public testing::TestWithParam<FailureCase> {};

// Each failure prints its one line exactly and gives NULL; the colour space is checked before
// anything is allocated, and a destination without pixel memory is deleted again (the
// sanitizer build checks that nothing is leaked).
TEST_P(InverterRefuses, WithItsLine)
{
	const FailureCase& c = GetParam();
	FilterPtr filter = LoadFilter("Inverter");
	ASSERT_NE(filter, nullptr);
	BitmapPtr source = MakeBitmap(c.bounds, c.space);

	BBitmap* result = reinterpret_cast<BBitmap*>(1);
	int32 requests = -1;
	std::string printed = CaptureStdout([&] {
		FailingAllocation allocations(c.granted);
		result = filter->Run(source.get());
		requests = allocations.Requests();
	});
	EXPECT_EQ(result, nullptr);
	EXPECT_EQ(printed, c.line);
	EXPECT_EQ(requests, c.requests);
}

INSTANTIATE_TEST_SUITE_P(Sources, InverterRefuses, testing::ValuesIn(kFailures),
                         [](const testing::TestParamInfo<FailureCase>& info) {
	                         return info.param.label;
                         });

} // namespace
