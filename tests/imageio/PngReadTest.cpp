// ReadImage on every kind of PNG file, made here with libpng at its native bit depth.
#include <random>

#include <png.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

struct PngKind {
	const char* name;
	int colorType;
	int bitDepth;
	bool interlaced;
	bool transparency;
};

void PrintTo(const PngKind& kind, std::ostream* out)
{
	*out << kind.name;
}

const PngKind kPngKinds[] = {
    {"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false},
    {"grey2", PNG_COLOR_TYPE_GRAY, 2, false, false},
    {"grey4", PNG_COLOR_TYPE_GRAY, 4, false, false},
    {"grey8", PNG_COLOR_TYPE_GRAY, 8, false, false},
    {"grey16", PNG_COLOR_TYPE_GRAY, 16, false, false},
    {"grey2_trns", PNG_COLOR_TYPE_GRAY, 2, false, true},
    {"grey16_trns", PNG_COLOR_TYPE_GRAY, 16, false, true},
    {"grey_alpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
    {"grey_alpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
    {"palette1", PNG_COLOR_TYPE_PALETTE, 1, false, false},
    {"palette2", PNG_COLOR_TYPE_PALETTE, 2, false, false},
    {"palette4", PNG_COLOR_TYPE_PALETTE, 4, false, false},
    {"palette8", PNG_COLOR_TYPE_PALETTE, 8, false, false},
    {"palette2_trns", PNG_COLOR_TYPE_PALETTE, 2, false, true},
    {"palette8_trns", PNG_COLOR_TYPE_PALETTE, 8, false, true},
    {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, false},
    {"rgb16", PNG_COLOR_TYPE_RGB, 16, false, false},
    {"rgb8_trns", PNG_COLOR_TYPE_RGB, 8, false, true},
    {"rgb16_trns", PNG_COLOR_TYPE_RGB, 16, false, true},
    {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
    {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
    {"grey1_interlaced", PNG_COLOR_TYPE_GRAY, 1, true, false},
    {"grey16_interlaced", PNG_COLOR_TYPE_GRAY, 16, true, false},
    {"palette4_trns_interlaced", PNG_COLOR_TYPE_PALETTE, 4, true, true},
    {"rgb8_interlaced", PNG_COLOR_TYPE_RGB, 8, true, false},
    {"rgba16_interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false},
};

// An odd size, so that packed rows end inside a byte and every interlace pass is partial.
const uint32 kWidth = 13;
const uint32 kHeight = 11;

int ChannelCount(int colorType)
{
	switch (colorType) {
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		return 2;
	case PNG_COLOR_TYPE_RGB:
		return 3;
	case PNG_COLOR_TYPE_RGB_ALPHA:
		return 4;
	default:
		return 1;
	}
}

// A sample as the file stores it, and its 8-bit value: low depths scale up to the full range,
// 16-bit samples are chosen as multiples of 257 so that the 8-bit value is exact.
struct Sample {
	uint16 stored;
	uint8 value;
};

Sample RandomSample(std::mt19937& random, int bitDepth, int limit)
{
	int maximum = (1 << std::min(bitDepth, 8)) - 1;
	int level = std::uniform_int_distribution<int>(0, std::min(maximum, limit - 1))(random);
	if (bitDepth == 16)
		return {(uint16)(level * 257), (uint8)level};
	return {(uint16)level, (uint8)(level * 255 / maximum)};
}

void PutSample(Bytes& row, uint32 index, int bitDepth, uint16 stored)
{
	if (bitDepth == 16) {
		row[index * 2] = stored >> 8;
		row[index * 2 + 1] = stored & 0xff;
	} else if (bitDepth == 8) {
		row[index] = (uint8)stored;
	} else {
		uint32 perByte = 8 / bitDepth;
		int shift = 8 - bitDepth * (int)(index % perByte + 1);
		row[index / perByte] |= (uint8)(stored << shift);
	}
}

// Makes a random image of `kind` and the pixel words ReadImage must give for it.
PngImage MakeImage(const PngKind& kind, std::vector<uint32>& expected)
{
	std::mt19937 random(kind.colorType * 100 + kind.bitDepth);
	PngImage image;
	image.width = kWidth;
	image.height = kHeight;
	image.colorType = kind.colorType;
	image.bitDepth = kind.bitDepth;
	image.interlaced = kind.interlaced;

	bool palette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
	int paletteSize = palette ? std::min(1 << kind.bitDepth, 37) : 0;
	std::uniform_int_distribution<int> byte(0, 255);
	for (int i = 0; i < paletteSize * 3; i++)
		image.palette.push_back(byte(random));
	if (palette && kind.transparency) {
		for (int i = 0; i < paletteSize - 1; i++)
			image.paletteAlpha.push_back(byte(random));
	}

	int channels = ChannelCount(kind.colorType);
	size_t rowBytes = (kWidth * channels * kind.bitDepth + 7) / 8;
	std::vector<std::vector<Sample>> pixels;
	for (uint32 y = 0; y < kHeight; y++) {
		Bytes row(rowBytes, 0);
		for (uint32 x = 0; x < kWidth; x++) {
			std::vector<Sample> pixel;
			for (int c = 0; c < channels; c++) {
				Sample sample = RandomSample(random, kind.bitDepth, palette ? paletteSize : 256);
				PutSample(row, x * channels + c, kind.bitDepth, sample.stored);
				pixel.push_back(sample);
			}
			pixels.push_back(pixel);
		}
		image.rows.push_back(row);
	}
	// The transparent colour of grey and RGB images is the first pixel's, so that it occurs.
	if (!palette && kind.transparency) {
		for (const Sample& sample : pixels[0])
			image.transparentColor.push_back(sample.stored);
	}

	for (const std::vector<Sample>& pixel : pixels) {
		if (palette) {
			int index = pixel[0].stored;
			uint8 alpha = index < (int)image.paletteAlpha.size() ? image.paletteAlpha[index] : 255;
			expected.push_back(Word(image.palette[index * 3], image.palette[index * 3 + 1],
			                        image.palette[index * 3 + 2], alpha));
			continue;
		}
		bool colour = channels >= 3;
		uint8 red = pixel[0].value;
		uint8 green = colour ? pixel[1].value : red;
		uint8 blue = colour ? pixel[2].value : red;
		uint8 alpha = channels % 2 == 0 ? pixel[channels - 1].value : 255;
		if (kind.transparency) {
			bool transparent = true;
			for (int c = 0; c < channels; c++)
				transparent = transparent && pixel[c].stored == image.transparentColor[c];
			alpha = transparent ? 0 : 255;
		}
		expected.push_back(Word(red, green, blue, alpha));
	}
	return image;
}

class PngKindTest : public ScratchTest, public ::testing::WithParamInterface<PngKind> {};

// Every PNG kind reads as 8-bit BGRA words: B_RGBA32 when the file has alpha or tRNS, else
// B_RGB32 with 255 in the fourth byte.
TEST_P(PngKindTest, ReadsEveryPixel)
{
	const PngKind& kind = GetParam();
	std::vector<uint32> expected;
	WritePngFile(Path("kind.png"), MakeImage(kind, expected));

	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadImage(Path("kind.png"), ImageLimits(), error);
	ASSERT_NE(bitmap, nullptr) << error;
	bool hasAlpha = kind.transparency || (kind.colorType & PNG_COLOR_MASK_ALPHA) != 0;
	EXPECT_EQ(bitmap->ColorSpace(), hasAlpha ? B_RGBA32 : B_RGB32);
	EXPECT_EQ(bitmap->Bounds(), BRect(0, 0, kWidth - 1, kHeight - 1));
	EXPECT_EQ(Words(*bitmap), expected);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, PngKindTest, ::testing::ValuesIn(kPngKinds),
                         [](const ::testing::TestParamInfo<PngKind>& info) {
	                         return std::string(info.param.name);
                         });

} // namespace
