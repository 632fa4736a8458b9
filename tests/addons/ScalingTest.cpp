// The scaling add-ons "Half" (Shrinker) and "Double" (Enlarger), loaded and run as the host runs
// them: their sizes, what they leave behind, and the quality of the scaled images.
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "LiveViews.h"
#include "ScaleReference.h"
#include "TestSupport.h"

namespace {

struct SizeCase {
	int32 width;
	int32 height;
	int32 halfWidth;
	int32 halfHeight;
	int32 doubleWidth;
	int32 doubleHeight;
};

const SizeCase kSizes[] = {
    {100, 60, 50, 30, 199, 119}, {1, 1, 1, 1, 1, 1},  {2, 1, 1, 1, 3, 1},
    {1, 2, 1, 1, 1, 3},          {7, 3, 4, 2, 13, 5},
};

const color_space kSpaces[] = {B_RGB32, B_RGBA32};

class ScalingSizes : public testing::TestWithParam<std::tuple<SizeCase, color_space>> {};

// An image n pixels wide gives (n - 1) / 2 + 1 from "Half" and 2n - 1 from "Double" (heights
// likewise), in the source's colour space, unlocked, with no view left attached or alive.
TEST_P(ScalingSizes, SizesSpaceAndNoViewLeftBehind)
{
	const auto& [size, space] = GetParam();
	BitmapPtr source = MakeBitmap(size.width, size.height, space);
	FillRandom(source.get(), 7);
	struct {
		const char* deliverable;
		int32 width;
		int32 height;
	} runs[] = {{"Shrinker", size.halfWidth, size.halfHeight},
	            {"Enlarger", size.doubleWidth, size.doubleHeight}};
	for (const auto& run : runs) {
		SCOPED_TRACE(run.deliverable);
		FilterPtr filter = LoadFilter(run.deliverable);
		ASSERT_NE(filter, nullptr);
		int32 viewsBefore = BPrivate::CountLiveViews();
		BitmapPtr result(filter->Run(source.get()));
		ASSERT_NE(result, nullptr);
		EXPECT_EQ(result->Bounds(), BRect(0, 0, run.width - 1, run.height - 1));
		EXPECT_EQ(result->ColorSpace(), space);
		EXPECT_EQ(result->CountChildren(), 0);
		EXPECT_FALSE(result->IsLocked());
		EXPECT_EQ(BPrivate::CountLiveViews(), viewsBefore);
	}
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScalingSizes,
                         testing::Combine(testing::ValuesIn(kSizes), testing::ValuesIn(kSpaces)));

const char* const kScalers[] = {"Shrinker", "Enlarger"};

class ScalingQuality : public testing::TestWithParam<const char*> {};

// A flat colour stays exactly that colour, alpha and the fourth byte of B_RGB32 included.
TEST_P(ScalingQuality, FlatColourStaysFlat)
{
	FilterPtr filter = LoadFilter(GetParam());
	ASSERT_NE(filter, nullptr);
	const uint32 kColours[] = {Word(200, 17, 99, 255), Word(1, 254, 128, 3),
	                           Word(255, 255, 255, 128), Word(0, 0, 0, 1)};
	for (color_space space : kSpaces) {
		for (uint32 colour : kColours) {
			BitmapPtr source = MakeBitmap(13, 8, space);
			for (int32 y = 0; y < 8; y++) {
				for (int32 x = 0; x < 13; x++)
					SetWordAt(*source, x, y, colour);
			}
			BitmapPtr result(filter->Run(source.get()));
			ASSERT_NE(result, nullptr);
			for (uint32 word : Words(*result))
				ASSERT_EQ(word, colour) << std::hex << colour << " in space " << space;
		}
	}
}

// A fully transparent pixel beside an opaque red one lends it neither darkness nor its own
// colour: every pixel that is not fully transparent comes out pure red, whatever colour the
// transparent pixels hold, beside or above the red ones.
TEST_P(ScalingQuality, TransparentBesideRedLeavesNoFringe)
{
	FilterPtr filter = LoadFilter(GetParam());
	ASSERT_NE(filter, nullptr);
	const uint32 kRed = Word(255, 0, 0, 255);
	const uint32 kTransparent[] = {Word(0, 0, 0, 0), Word(0, 0, 255, 0), Word(255, 255, 255, 0)};
	for (uint32 clear : kTransparent) {
		for (bool across : {true, false}) {
			// Two columns (or rows): the transparent one first, the red one second.
			BitmapPtr source = MakeBitmap(2, 2);
			for (int32 i = 0; i < 2; i++) {
				SetWordAt(*source, across ? 0 : i, across ? i : 0, clear);
				SetWordAt(*source, across ? 1 : i, across ? i : 1, kRed);
			}
			BitmapPtr result(filter->Run(source.get()));
			ASSERT_NE(result, nullptr);
			bool blended = false;
			for (uint32 word : Words(*result)) {
				uint32 alpha = word >> 24;
				if (alpha != 0) {
					EXPECT_EQ(word & 0xffffff, kRed & 0xffffff) << std::hex << word;
				}
				blended = blended || (alpha > 0 && alpha < 255);
			}
			EXPECT_TRUE(blended) << "the edge was not interpolated";
		}
	}
}

struct PhotoCase {
	const char* sample;
	const char* deliverable;
};

void PrintTo(const PhotoCase& c, std::ostream* out)
{
	*out << c.sample << " through " << c.deliverable;
}

class ScalingPhotographs : public testing::TestWithParam<PhotoCase> {};

// Real photographs (opaque, odd-sized, and one with transparency) halved and doubled differ from
// the double-precision reference by at most 1 in any byte.
TEST_P(ScalingPhotographs, StayWithinOneOfTheReference)
{
	FilterPtr filter = LoadFilter(GetParam().deliverable);
	ASSERT_NE(filter, nullptr);
	BitmapPtr source = ReadSample(GetParam().sample);
	ASSERT_NE(source, nullptr);
	BitmapPtr result(filter->Run(source.get()));
	ASSERT_NE(result, nullptr);
	int32 width = result->Bounds().IntegerWidth() + 1;
	int32 height = result->Bounds().IntegerHeight() + 1;
	EXPECT_LE(LargestByteDifference(Words(*result), ReferenceScale(*source, width, height)), 1);
}

const PhotoCase kPhotos[] = {
    {"astronaut.png", "Shrinker"}, {"astronaut.png", "Enlarger"}, {"chelsea.png", "Shrinker"},
    {"chelsea.png", "Enlarger"},   {"logo.png", "Shrinker"},      {"logo.png", "Enlarger"},
};

INSTANTIATE_TEST_SUITE_P(Samples, ScalingPhotographs, testing::ValuesIn(kPhotos));

// "Half" of an image of even sides is the rounded mean of each 2 x 2 block: of each byte for
// B_RGB32; for B_RGBA32 of alpha, and of each colour weighted by alpha (transparent black where
// the whole block is transparent). An opaque B_RGBA32 image, which takes a shortcut, gives the
// plain means.
TEST(HalfScaling, EvenImageGivesRounded2x2Means)
{
	FilterPtr filter = LoadFilter("Shrinker");
	ASSERT_NE(filter, nullptr);
	const struct {
		color_space space;
		bool opaque;
	} kCases[] = {{B_RGB32, false}, {B_RGBA32, false}, {B_RGBA32, true}};
	for (const auto& [space, opaque] : kCases) {
		BitmapPtr source = MakeBitmap(64, 38, space);
		FillRandom(source.get(), 11);
		// Opaque throughout; or a few transparent pixels, and one block transparent throughout.
		for (int32 i = 0; i < 64 * 38 && opaque; i++)
			SetWordAt(*source, i % 64, i / 64, WordAt(*source, i % 64, i / 64) | 0xff000000);
		for (int32 i = 0; i < 40 && !opaque; i++)
			SetWordAt(*source, (i * 7) % 64, (i * 5) % 38, Word(90, 180, 45, 0));
		for (int32 i = 0; i < 4 && !opaque; i++)
			SetWordAt(*source, 10 + i % 2, 20 + i / 2, Word(1, 2, 3, 0));
		BitmapPtr result(filter->Run(source.get()));
		ASSERT_NE(result, nullptr);
		for (int32 y = 0; y < 19; y++) {
			for (int32 x = 0; x < 32; x++) {
				uint32 block[4] = {WordAt(*source, 2 * x, 2 * y), WordAt(*source, 2 * x + 1, 2 * y),
				                   WordAt(*source, 2 * x, 2 * y + 1),
				                   WordAt(*source, 2 * x + 1, 2 * y + 1)};
				uint32 alphaSum = 0;
				for (uint32 word : block)
					alphaSum += word >> 24;
				uint32 expected = (alphaSum + 2) / 4 << 24;
				for (int32 shift = 0; shift < 24; shift += 8) {
					uint32 sum = 0;
					uint32 weighted = 0;
					for (uint32 word : block) {
						sum += (word >> shift) & 0xff;
						weighted += ((word >> shift) & 0xff) * (word >> 24);
					}
					uint32 mean = (sum + 2) / 4;
					if (space == B_RGBA32)
						mean = alphaSum == 0 ? 0 : (2 * weighted + alphaSum) / (2 * alphaSum);
					expected |= mean << shift;
				}
				ASSERT_EQ(WordAt(*result, x, y), expected)
				    << "space " << space << (opaque ? " opaque" : "") << " at " << x << ", " << y;
			}
		}
	}
}

// "Double" of a ramp is a ramp: along the ramp each value lies within 1 of the straight line
// through the source values at the pixel's centre, and never falls.
TEST(DoubleScaling, RampStaysARamp)
{
	FilterPtr filter = LoadFilter("Enlarger");
	ASSERT_NE(filter, nullptr);
	const int32 kLength = 26;
	for (bool across : {true, false}) {
		BitmapPtr source = across ? MakeBitmap(kLength, 1) : MakeBitmap(1, kLength);
		for (int32 i = 0; i < kLength; i++) {
			uint8 value = (uint8)(10 * i);
			SetWordAt(*source, across ? i : 0, across ? 0 : i, Word(value, value, value, 255));
		}
		BitmapPtr result(filter->Run(source.get()));
		ASSERT_NE(result, nullptr);
		std::vector<uint32> words = Words(*result);
		ASSERT_EQ(words.size(), (size_t)(2 * kLength - 1));
		double scale = (double)kLength / (2 * kLength - 1);
		for (size_t j = 0; j < words.size(); j++) {
			double position = std::clamp((j + 0.5) * scale - 0.5, 0.0, kLength - 1.0);
			EXPECT_NEAR((double)(words[j] & 0xff), 10 * position, 1.0) << j;
			EXPECT_EQ(words[j] >> 24, 255u);
			if (j > 0) {
				EXPECT_GE(words[j] & 0xff, words[j - 1] & 0xff) << j;
			}
		}
	}
}

class ScalingRefusals : public testing::TestWithParam<const char*> {};

// A source the kit cannot draw, or whose destination cannot be made, gives NULL: never a blank
// image, and no view left alive.
TEST_P(ScalingRefusals, UndrawableSourceGivesNull)
{
	FilterPtr filter = LoadFilter(GetParam());
	ASSERT_NE(filter, nullptr);
	std::vector<BitmapPtr> sources;
	for (color_space space : {B_CMAP8, B_GRAY8, B_RGB24, B_RGB16, B_RGB32_BIG, B_RGBA32_BIG})
		sources.push_back(MakeBitmap(6, 4, space));
	// No pixel memory: bounds that are not a number, and bounds too large to allocate, which
	// also makes the destination impossible.
	sources.push_back(MakeBitmap(BRect(0, 0, NAN, 5), B_RGBA32));
	sources.push_back(MakeBitmap(BRect(0, 0, 1e6f, 1e6f), B_RGBA32));
	for (const BitmapPtr& source : sources) {
		int32 viewsBefore = BPrivate::CountLiveViews();
		BitmapPtr result(filter->Run(source.get()));
		EXPECT_EQ(result, nullptr) << "space " << source->ColorSpace();
		EXPECT_EQ(BPrivate::CountLiveViews(), viewsBefore);
	}
}

INSTANTIATE_TEST_SUITE_P(Scalers, ScalingQuality, testing::ValuesIn(kScalers));
INSTANTIATE_TEST_SUITE_P(Scalers, ScalingRefusals, testing::ValuesIn(kScalers));

} // namespace
