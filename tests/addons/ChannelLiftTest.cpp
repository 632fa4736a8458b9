// The brighten filter: its channel choice, ratios, wrap-around and clamping, the working state
// carried from pixel to pixel and row to row, its two diagnostics, and agreement with a
// straightforward model of the algorithm on photographs and random images.
#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "FailingAllocation.h"
#include "TestSupport.h"

namespace {

struct Outcome {
	// False when Run returned NULL.
	bool produced;
	std::vector<uint32> words;
	std::string printed;
};

void PrintTo(const Outcome& o, std::ostream* out)
{
	*out << (o.produced ? "bitmap" : "NULL") << ", printed \"" << o.printed << "\"";
}

bool operator==(const Outcome& a, const Outcome& b)
{
	return a.produced == b.produced && a.words == b.words && a.printed == b.printed;
}

Outcome RunFilter(BBitmap* source)
{
	FilterPtr filter = LoadFilter("ChannelLift");
	Outcome outcome{false, {}, ""};
	if (filter == nullptr)
		return outcome;
	BBitmap* result = NULL;
	outcome.printed = CaptureStdout([&] { result = filter->Run(source); });
	BitmapPtr owned(result);
	if (owned == nullptr)
		return outcome;
	EXPECT_EQ(owned->Bounds(), source->Bounds());
	EXPECT_EQ(owned->ColorSpace(), source->ColorSpace());
	outcome.produced = true;
	outcome.words = Words(*owned);
	return outcome;
}

// The model: the algorithm as it is specified, one pixel after the other, with the product of
// the new level and a ratio rounded to double before it is truncated.
Outcome ModelRun(const BBitmap& source)
{
	std::vector<uint32> in = Words(source);
	int32 width = source.Bounds().IntegerWidth() + 1;
	int32 height = source.Bounds().IntegerHeight() + 1;
	Outcome outcome{true, std::vector<uint32>(in.size(), 0), ""};

	uint32 level = 256;
	char marker = 'X';
	double ratioRed = 1.0;
	double ratioGreen = 1.0;
	double ratioBlue = 1.0;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++) {
			uint32 word = in[y * width + x];
			uint32 red = word >> 16 & 0xff;
			uint32 green = word >> 8 & 0xff;
			uint32 blue = word & 0xff;
			if (red != 0 && red < green) {
				level = red;
				marker = 'R';
			} else if (green != 0) {
				level = green;
				marker = 'G';
			}
			if (blue != 0 && blue < level) {
				level = blue;
				marker = 'B';
			}
			if (level > 255) {
				outcome.printed += "Hmm\n";
				break;
			}
			if (level == 0) {
				outcome.printed += "ouch\n";
				return Outcome{false, {}, outcome.printed};
			}

			double reference = level;
			switch (marker) {
			case 'R':
				ratioRed = 1.0;
				ratioGreen = green / reference;
				ratioBlue = blue / reference;
				red = (red + 10) % 256;
				level = red;
				break;
			case 'G':
				ratioRed = red / reference;
				ratioGreen = 1.0;
				ratioBlue = blue / reference;
				green = (green + 10) % 256;
				level = green;
				break;
			default:
				ratioRed = red / reference;
				ratioGreen = green / reference;
				ratioBlue = 1.0;
				blue = (blue + 10) % 256;
				level = blue;
				break;
			}
			auto scaled = [&](double ratio) {
				double product = level * ratio;
				return std::min(static_cast<uint32>(product), 255u);
			};
			outcome.words[y * width + x] =
			    Word(scaled(ratioRed), scaled(ratioGreen), scaled(ratioBlue), word >> 24);
		}
	}
	return outcome;
}

std::vector<uint32> Repeated(int32 count, uint32 word)
{
	return std::vector<uint32>(count, word);
}

std::vector<uint32> Joined(std::vector<uint32> first, const std::vector<uint32>& second)
{
	first.insert(first.end(), second.begin(), second.end());
	return first;
}

BitmapPtr MakeImage(int32 width, int32 height, const std::vector<uint32>& pixels)
{
	BitmapPtr image = MakeBitmap(width, height, B_RGBA32);
	EXPECT_EQ(pixels.size(), static_cast<size_t>(width * height));
	for (int32 i = 0; i < width * height; i++)
		SetWordAt(*image, i % width, i / width, pixels[i]);
	return image;
}

struct PixelCase {
	const char* label;
	uint32 pixel;
	uint32 expected;
};

const PixelCase kPixelCases[] = {
    // The choice.
    {"GreenChosen", Word(20, 10, 40, 7), Word(40, 20, 80, 7)},
    {"RedThenBlue", Word(100, 200, 50, 9), Word(120, 240, 60, 9)},
    {"RedZeroCannotWin", Word(0, 50, 100, 4), Word(0, 60, 120, 4)},
    {"NoGreenBlueBelowStart", Word(5, 0, 200, 3), Word(5, 0, 210, 3)},
    {"RedEqualGreen", Word(30, 30, 30, 255), Word(40, 40, 40, 255)},
    {"RedEqualBlue", Word(30, 60, 30, 1), Word(40, 80, 40, 1)},
    {"GreenEqualBlue", Word(50, 40, 40, 2), Word(62, 50, 50, 2)},
    // Clamping of the rescaled channels, wrap-around of the chosen one.
    {"GreenClamped", Word(10, 200, 100, 5), Word(20, 255, 200, 5)},
    {"BothClamped", Word(100, 250, 240, 6), Word(110, 255, 255, 6)},
    {"RedWraps", Word(250, 251, 252, 8), Word(4, 4, 4, 8)},
    {"BlueWraps", Word(250, 251, 248, 10), Word(2, 2, 2, 10)},
    {"WrapsToZero", Word(246, 250, 255, 11), Word(0, 0, 0, 11)},
    // The precision rule: 15 x (6 / 5) is taken as 18.
    {"ProductRoundedToDouble", Word(6, 5, 9, 20), Word(18, 15, 27, 20)},
};

void PrintTo(const PixelCase& c, std::ostream* out)
{
	*out << c.label;
}

class ChannelLiftPixels : public testing::TestWithParam<PixelCase> {};

// As the first and only pixel of an image, the pixel comes out as listed, silently.
TEST_P(ChannelLiftPixels, AsTheOnlyPixel)
{
	BitmapPtr source = MakeImage(1, 1, {GetParam().pixel});
	Outcome expected{true, {GetParam().expected}, ""};
	EXPECT_EQ(RunFilter(source.get()), expected);
}

// Each of these pixels comes out the same whatever precedes it, so an image filled with it,
// wide enough for the several-at-a-time path, comes out filled with the listed result.
TEST_P(ChannelLiftPixels, FillingAnImage)
{
	const int32 kWidth = 19;
	const int32 kHeight = 2;
	BitmapPtr source = MakeImage(kWidth, kHeight, Repeated(kWidth * kHeight, GetParam().pixel));
	Outcome expected{true, Repeated(kWidth * kHeight, GetParam().expected), ""};
	EXPECT_EQ(RunFilter(source.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(Pixels, ChannelLiftPixels, testing::ValuesIn(kPixelCases),
                         [](const testing::TestParamInfo<PixelCase>& info) {
	                         return info.param.label;
                         });

struct ImageCase {
	const char* label;
	int32 width;
	int32 height;
	std::vector<uint32> pixels;
	// Empty when Run must return NULL.
	std::vector<uint32> expected;
	const char* printed;
};

const uint32 kBlack = Word(0, 0, 0, 255);

const ImageCase kImageCases[] = {
    // State carried to a pixel without green, also out of a run of eight and across rows.
    {"CarriedGreen",
     2,
     1,
     {Word(150, 100, 200, 13), Word(200, 0, 0, 14)},
     {Word(165, 110, 220, 13), Word(18, 10, 0, 14)},
     ""},
    {"CarriedRed",
     2,
     1,
     {Word(50, 100, 0, 15), Word(200, 0, 0, 16)},
     {Word(60, 120, 0, 15), Word(210, 0, 0, 16)},
     ""},
    {"CarriedBlue",
     2,
     1,
     {Word(100, 200, 50, 17), Word(200, 0, 90, 18)},
     {Word(120, 240, 60, 17), Word(255, 0, 100, 18)},
     ""},
    {"BlueBelowCarriedLevel",
     2,
     1,
     {Word(100, 200, 50, 17), Word(0, 0, 30, 19)},
     {Word(120, 240, 60, 17), Word(0, 0, 40, 19)},
     ""},
    {"CarriedAcrossRows",
     1,
     2,
     {Word(150, 100, 200, 13), Word(200, 0, 0, 14)},
     {Word(165, 110, 220, 13), Word(18, 10, 0, 14)},
     ""},
    {"CarriedGreenAfterEight", 9, 1,
     Joined(Repeated(8, Word(150, 100, 200, 13)), {Word(200, 0, 0, 14)}),
     Joined(Repeated(8, Word(165, 110, 220, 13)), {Word(18, 10, 0, 14)}), ""},
    {"CarriedRedAfterEight", 9, 1, Joined(Repeated(8, Word(50, 100, 0, 15)), {Word(200, 0, 0, 16)}),
     Joined(Repeated(8, Word(60, 120, 0, 15)), {Word(210, 0, 0, 16)}), ""},
    {"CarriedBlueAfterEight", 9, 1,
     Joined(Repeated(8, Word(100, 200, 50, 17)), {Word(200, 0, 90, 18)}),
     Joined(Repeated(8, Word(120, 240, 60, 17)), {Word(255, 0, 100, 18)}), ""},
    // A tie shows in the channel carried on.
    {"TieLeavesGreen",
     2,
     1,
     {Word(30, 30, 30, 1), Word(200, 0, 0, 2)},
     {Word(40, 40, 40, 1), Word(50, 10, 0, 2)},
     ""},
    {"TieLeavesRed",
     2,
     1,
     {Word(30, 60, 30, 3), Word(0, 0, 0, 4)},
     {Word(40, 80, 40, 3), Word(10, 0, 0, 4)},
     ""},
    {"TieLeavesGreenAfterEight", 9, 1,
     Joined(Repeated(8, Word(30, 30, 30, 1)), {Word(200, 0, 0, 2)}),
     Joined(Repeated(8, Word(40, 40, 40, 1)), {Word(50, 10, 0, 2)}), ""},
    {"TieLeavesRedAfterEight", 9, 1, Joined(Repeated(8, Word(30, 60, 30, 3)), {Word(0, 0, 0, 4)}),
     Joined(Repeated(8, Word(40, 80, 40, 3)), {Word(10, 0, 0, 4)}), ""},
    // A level of 0 left by a wrap.
    {"LevelZeroThenGreen",
     2,
     1,
     {Word(246, 250, 255, 11), Word(20, 10, 40, 12)},
     {Word(0, 0, 0, 11), Word(40, 20, 80, 12)},
     ""},
    {"LevelZeroThenNoGreen", 2, 1, {Word(246, 250, 255, 11), Word(9, 0, 0, 12)}, {}, "ouch\n"},
    {"LevelZeroBlueCannotWin", 2, 1, {Word(246, 250, 255, 11), Word(0, 0, 7, 12)}, {}, "ouch\n"},
    {"LevelZeroOnALaterRow",
     10,
     2,
     Joined(Repeated(18, Word(20, 10, 40, 1)), {Word(246, 250, 255, 11), Word(9, 0, 0, 12)}),
     {},
     "ouch\n"},
    // Rows abandoned while no pixel has set a level; their pixels stay as a new bitmap holds
    // them.
    {"BlackAndRedFirstPixels",
     2,
     3,
     {kBlack, Word(20, 10, 40, 1), Word(255, 0, 0, 2), Word(1, 1, 1, 3), Word(20, 10, 40, 4),
      Word(0, 0, 0, 5)},
     {0, 0, 0, 0, Word(40, 20, 80, 4), Word(0, 10, 0, 5)},
     "Hmm\nHmm\n"},
    {"AllBlack", 3, 4, Repeated(12, kBlack), Repeated(12, 0), "Hmm\nHmm\nHmm\nHmm\n"},
    {"AllBlackWide", 20, 2, Repeated(40, kBlack), Repeated(40, 0), "Hmm\nHmm\n"},
};

void PrintTo(const ImageCase& c, std::ostream* out)
{
	*out << c.label;
}

class ChannelLiftImages : public testing::TestWithParam<ImageCase> {};

// Each listed image gives exactly the listed pixels, or NULL, and exactly the listed lines on
// standard output.
TEST_P(ChannelLiftImages, GiveTheListedPixelsAndLines)
{
	const ImageCase& c = GetParam();
	BitmapPtr source = MakeImage(c.width, c.height, c.pixels);
	Outcome expected{!c.expected.empty(), c.expected, c.printed};
	EXPECT_EQ(RunFilter(source.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(Images, ChannelLiftImages, testing::ValuesIn(kImageCases),
                         [](const testing::TestParamInfo<ImageCase>& info) {
	                         return info.param.label;
                         });

// Fills every colour channel with one of `values`, picked at random; alpha takes any value.
void FillFrom(BBitmap* bitmap, uint32 seed, const std::vector<uint8>& values)
{
	std::mt19937 random(seed);
	std::uniform_int_distribution<size_t> pick(0, values.size() - 1);
	std::uniform_int_distribution<int> alpha(0, 255);
	int32 width = bitmap->Bounds().IntegerWidth() + 1;
	int32 height = bitmap->Bounds().IntegerHeight() + 1;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++) {
			SetWordAt(*bitmap, x, y,
			          Word(values[pick(random)], values[pick(random)], values[pick(random)],
			               alpha(random)));
		}
	}
}

struct ModelCase {
	const char* label;
	// A sample photograph, or NULL for a random image.
	const char* sample;
	int32 width;
	int32 height;
	uint32 seed;
	// The channel values of a random image; empty for any value.
	std::vector<uint8> values;
};

const ModelCase kModelCases[] = {
    {"Astronaut", "astronaut.png", 0, 0, 0, {}},
    {"Camera", "camera.png", 0, 0, 0, {}},
    {"Chelsea", "chelsea.png", 0, 0, 0, {}},
    {"Logo", "logo.png", 0, 0, 0, {}},
    {"AnyValues", NULL, 157, 61, 1, {}},
    {"AnyValuesNarrow", NULL, 7, 300, 2, {}},
    {"SmallValues", NULL, 131, 17, 3, {0, 1, 2, 3}},
    {"FewGreens", NULL, 64, 40, 4, {0, 0, 0, 0, 0, 0, 0, 90, 200, 255}},
    {"WrappingValues", NULL, 97, 33, 5, {1, 9, 10, 128, 200, 245, 246, 250, 255}},
    {"WrapsThenZeros", NULL, 50, 50, 6, {0, 0, 0, 246}},
};

void PrintTo(const ModelCase& c, std::ostream* out)
{
	*out << c.label;
}

class ChannelLiftModel : public testing::TestWithParam<ModelCase> {};

// On photographs and seeded random images the add-on gives, pixel for pixel and line for line,
// what a straightforward model of the algorithm gives, NULL included.
TEST_P(ChannelLiftModel, AgreesPixelForPixel)
{
	const ModelCase& c = GetParam();
	BitmapPtr source;
	if (c.sample != NULL) {
		source = ReadSample(c.sample);
		ASSERT_NE(source, nullptr);
	} else {
		source = MakeBitmap(c.width, c.height, B_RGBA32);
		if (c.values.empty())
			FillRandom(source.get(), c.seed);
		else
			FillFrom(source.get(), c.seed, c.values);
	}
	Outcome expected = ModelRun(*source);
	Outcome actual = RunFilter(source.get());
	EXPECT_EQ(actual.produced, expected.produced);
	EXPECT_EQ(actual.printed, expected.printed);
	ASSERT_EQ(actual.words.size(), expected.words.size());
	size_t differing = 0;
	for (size_t i = 0; i < actual.words.size(); i++) {
		if (actual.words[i] != expected.words[i] && differing++ < 5) {
			ADD_FAILURE() << "pixel " << i << ": 0x" << std::hex << actual.words[i]
			              << " instead of 0x" << expected.words[i];
		}
	}
	EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ChannelLiftModel, testing::ValuesIn(kModelCases),
                         [](const testing::TestParamInfo<ModelCase>& info) {
	                         return info.param.label;
                         });

struct RefusedCase {
	const char* label;
	BRect bounds;
	color_space space;
	// Nothrow allocations the run may have before they are refused.
	int32 granted;
};

const RefusedCase kRefused[] = {
    {"EightBitIndexed", BRect(0, 0, 9, 9), B_CMAP8, FailingAllocation::kGrantAll},
    {"LeftNotZero", BRect(3, 0, 12, 9), B_RGBA32, FailingAllocation::kGrantAll},
    {"NoPixelMemory", BRect(0, 0, 99999, 99999), B_RGBA32, FailingAllocation::kGrantAll},
    {"DestinationRefused", BRect(0, 0, 9, 9), B_RGBA32, 0},
};

void PrintTo(const RefusedCase& c, std::ostream* out)
{
	*out << c.label;
}

class ChannelLiftRefuses : public testing::TestWithParam<RefusedCase> {};

// A source the pixel accessor cannot address, or a destination that cannot be had, gives NULL
// silently and leaves nothing allocated.
TEST_P(ChannelLiftRefuses, Silently)
{
	const RefusedCase& c = GetParam();
	FilterPtr filter = LoadFilter("ChannelLift");
	ASSERT_NE(filter, nullptr);
	BitmapPtr source = MakeBitmap(c.bounds, c.space);

	BBitmap* result = reinterpret_cast<BBitmap*>(1);
	std::string printed = CaptureStdout([&] {
		FailingAllocation allocations(c.granted);
		result = filter->Run(source.get());
	});
	EXPECT_EQ(result, nullptr);
	EXPECT_EQ(printed, "");
}

INSTANTIATE_TEST_SUITE_P(Sources, ChannelLiftRefuses, testing::ValuesIn(kRefused),
                         [](const testing::TestParamInfo<RefusedCase>& info) {
	                         return info.param.label;
                         });

} // namespace
