// ReadImage on damaged, hostile and wrong files: each gives its message and no bitmap.
#include <functional>

#include <png.h>
#include <zlib.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

PngImage GoodPng()
{
	PngImage image;
	image.width = 64;
	image.height = 48;
	image.colorType = PNG_COLOR_TYPE_RGB;
	for (uint32 y = 0; y < image.height; y++) {
		Bytes row;
		for (uint32 x = 0; x < image.width * 3; x++)
			row.push_back((uint8)(x * 7 + y * 13 + (x * y) % 5));
		image.rows.push_back(row);
	}
	return image;
}

JpegImage GoodJpeg()
{
	JpegImage image;
	image.width = 64;
	image.height = 48;
	image.components = 3;
	image.inputSpace = 2; // JCS_RGB
	image.fileSpace = 3;  // JCS_YCbCr
	image.quality = 90;
	for (uint32 i = 0; i < image.width * image.height * 3; i++)
		image.samples.push_back((uint8)((i * 31) ^ (i / 97)));
	return image;
}

void PutBigEndian32(Bytes& bytes, size_t offset, uint32 value)
{
	for (int i = 0; i < 4; i++)
		bytes[offset + i] = (uint8)(value >> (24 - 8 * i));
}

// The first chunk of a PNG is IHDR: its width and height sit at bytes 16 and 20, its CRC,
// over type and data, at 29.
Bytes PngDeclaring(uint32 width, uint32 height)
{
	Bytes bytes = EncodePng(GoodPng());
	PutBigEndian32(bytes, 16, width);
	PutBigEndian32(bytes, 20, height);
	PutBigEndian32(bytes, 29, (uint32)crc32(0, bytes.data() + 12, 17));
	return bytes;
}

size_t FindChunk(const Bytes& bytes, const char* type)
{
	for (size_t i = 8; i + 8 <= bytes.size(); i++) {
		if (memcmp(bytes.data() + i + 4, type, 4) == 0)
			return i;
	}
	ADD_FAILURE() << "no " << type << " chunk";
	return 0;
}

// The start-of-frame marker FF C0 is followed by the segment's length, the sample precision at
// byte 4 after the marker, the height at bytes 5 and 6 and the width at 7 and 8.
Bytes JpegDeclaring(uint8 precision, uint16 width, uint16 height)
{
	Bytes bytes = EncodeJpeg(GoodJpeg());
	for (size_t i = 2; i + 9 < bytes.size(); i++) {
		if (bytes[i] == 0xff && bytes[i + 1] == 0xc0) {
			bytes[i + 4] = precision;
			bytes[i + 5] = height >> 8;
			bytes[i + 6] = height & 0xff;
			bytes[i + 7] = width >> 8;
			bytes[i + 8] = width & 0xff;
			return bytes;
		}
	}
	ADD_FAILURE() << "no SOF0 marker";
	return bytes;
}

Bytes Truncated(Bytes bytes, size_t keep)
{
	bytes.resize(keep);
	return bytes;
}

// A 4 x 2 image with a two-colour palette whose pixel (2, 1) has index `index`.
Bytes WithPaletteIndex(uint8 index)
{
	PngImage image;
	image.width = 4;
	image.height = 2;
	image.colorType = PNG_COLOR_TYPE_PALETTE;
	image.palette = {255, 0, 0, 0, 0, 255};
	image.rows = {{0, 1, 0, 1}, {1, 0, index, 0}};
	return EncodePng(image);
}

Bytes WithIdatByteChanged()
{
	Bytes bytes = EncodePng(GoodPng());
	bytes[FindChunk(bytes, "IDAT") + 20] ^= 0x55;
	return bytes;
}

// A chunk is its length, type, data and the CRC of type and data.
Bytes WithIdatCrcChanged()
{
	Bytes bytes = EncodePng(GoodPng());
	size_t chunk = FindChunk(bytes, "IDAT");
	uint32 length = (uint32)bytes[chunk] << 24 | bytes[chunk + 1] << 16 | bytes[chunk + 2] << 8 |
	                bytes[chunk + 3];
	bytes[chunk + 8 + length] ^= 0x01;
	return bytes;
}

// A restart marker in the middle of the entropy-coded data, where the file has none.
Bytes WithStrayJpegMarker()
{
	Bytes bytes = EncodeJpeg(GoodJpeg());
	size_t middle = bytes.size() - bytes.size() / 3;
	bytes[middle] = 0xff;
	bytes[middle + 1] = 0xd3;
	return bytes;
}

struct BadFile {
	const char* name;
	std::function<Bytes()> make;
	const char* message;
};

void PrintTo(const BadFile& row, std::ostream* out)
{
	*out << row.name;
}

const BadFile kBadFiles[] = {
    {"zero_size", [] { return Bytes(); }, "empty file"},
    {"text", [] { return Bytes{'h', 'e', 'l', 'l', 'o', '\n'}; }, "not an image file of a kind this program reads"},
    {"one_byte", [] { return Bytes{0x89}; }, "not an image file of a kind this program reads"},
    {"png_magic_only", [] { return Truncated(EncodePng(GoodPng()), 8); }, "truncated PNG data"},
    {"png_truncated_header", [] { return Truncated(EncodePng(GoodPng()), 20); },
     "truncated PNG data"},
    {"png_truncated_pixels",
     [] {
	     Bytes bytes = EncodePng(GoodPng());
	     return Truncated(bytes, FindChunk(bytes, "IDAT") + 100);
     },
     "truncated PNG data"},
    {"png_without_end",
     [] { return Truncated(EncodePng(GoodPng()), EncodePng(GoodPng()).size() - 12); },
     "truncated PNG data"},
    {"png_bad_crc", WithIdatCrcChanged, "damaged PNG data (IDAT: CRC error)"},
    {"png_damaged_pixels", WithIdatByteChanged, "damaged PNG data"},
    {"png_100000_square", [] { return PngDeclaring(100000, 100000); },
     "100000 x 100000 pixels, more than the limit of 16384 pixels a side"},
    {"png_too_many_pixels", [] { return PngDeclaring(16000, 16000); },
     "16000 x 16000 pixels, more than the limit of 64000000 pixels"},
    {"png_zero_width", [] { return PngDeclaring(0, 10); }, "damaged PNG data"},
    {"png_palette_index_past_end", [] { return WithPaletteIndex(5); },
     "palette index 5 at (2, 1) is past the end of the 2-colour palette"},
    {"png_palette_index_just_past_end", [] { return WithPaletteIndex(2); },
     "palette index 2 at (2, 1) is past the end of the 2-colour palette"},
    {"jpeg_magic_only",
     [] {
	     return Bytes{0xff, 0xd8, 0xff};
     },
     "truncated JPEG data"},
    {"jpeg_truncated_header", [] { return Truncated(EncodeJpeg(GoodJpeg()), 100); },
     "truncated JPEG data"},
    {"jpeg_truncated_pixels",
     [] {
	     Bytes bytes = EncodeJpeg(GoodJpeg());
	     return Truncated(bytes, bytes.size() - 200);
     },
     "truncated JPEG data"},
    {"jpeg_65500_square", [] { return JpegDeclaring(8, 65500, 65500); },
     "65500 x 65500 pixels, more than the limit of 16384 pixels a side"},
    {"jpeg_12_bit", [] { return JpegDeclaring(12, 64, 48); },
     "unsupported kind of JPEG (Unsupported JPEG data precision 12)"},
    {"jpeg_stray_marker", WithStrayJpegMarker, "damaged JPEG data"},
};

class BadFileTest : public ScratchTest, public ::testing::WithParamInterface<BadFile> {};

// A bad file gives no bitmap and a message that names the file and what is wrong with it.
TEST_P(BadFileTest, IsRefusedWithItsMessage)
{
	const BadFile& row = GetParam();
	std::string path = Path(row.name);
	WriteBytes(path, row.make());

	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadImage(path, ImageLimits(), error);
	EXPECT_EQ(bitmap, nullptr);
	EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
	EXPECT_NE(error.find(row.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest, ::testing::ValuesIn(kBadFiles),
                         [](const ::testing::TestParamInfo<BadFile>& info) {
	                         return std::string(info.param.name);
                         });

class UnreadableTest : public ScratchTest {};

// Paths that are no file at all are refused with the reason.
TEST_F(UnreadableTest, MissingFileAndFolder)
{
	std::string error;
	EXPECT_EQ(ReadImage(Path("missing.png"), ImageLimits(), error), nullptr);
	EXPECT_EQ(error, Path("missing.png") + ": cannot open: No such file or directory");
	EXPECT_EQ(ReadImage(fFolder, ImageLimits(), error), nullptr);
	EXPECT_EQ(error, fFolder + ": is a folder, not an image file");
}

// Limits given by the caller apply to both formats, and raising them lets the image through.
TEST_F(UnreadableTest, CallerLimitsApply)
{
	WriteBytes(Path("a.png"), EncodePng(GoodPng()));
	WriteBytes(Path("a.jpg"), EncodeJpeg(GoodJpeg()));
	ImageLimits tight;
	tight.maxPixels = 64 * 48 - 1;
	ImageLimits exact;
	exact.maxPixels = 64 * 48;
	exact.maxSide = 64;
	for (const char* name : {"a.png", "a.jpg"}) {
		std::string error;
		EXPECT_EQ(ReadImage(Path(name), tight, error), nullptr) << name;
		EXPECT_NE(error.find("64 x 48 pixels, more than the limit of 3071 pixels"),
		          std::string::npos)
		    << error;
		EXPECT_NE(ReadImage(Path(name), exact, error), nullptr) << error;
	}
}

} // namespace
