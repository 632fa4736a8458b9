// Reading 8-bit grey, grey-with-alpha and RGB PNG files, whose image data are inflated in one
// piece: the pixels are libpng's, however the data are cut into chunks, and damaged image data
// give one clear message.
#include <cstdio>
#include <functional>

#include <png.h>
#include <zlib.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

const uint32 kWidth = 61;
const uint32 kHeight = 37;

void PutBigEndian32(Bytes& bytes, uint32 value)
{
	for (int i = 0; i < 4; i++)
		bytes.push_back((uint8)(value >> (24 - 8 * i)));
}

// A chunk: its length, type, data and the CRC of type and data.
Bytes Chunk(const char* type, const Bytes& data)
{
	Bytes chunk;
	PutBigEndian32(chunk, (uint32)data.size());
	chunk.insert(chunk.end(), type, type + 4);
	chunk.insert(chunk.end(), data.begin(), data.end());
	PutBigEndian32(chunk, (uint32)crc32(0, chunk.data() + 4, (uInt)data.size() + 4));
	return chunk;
}

// An RGB file of kWidth x kHeight pixels whose image data are `stream`, cut into IDAT chunks
// of `chunkSize` bytes, with `between` put after the first chunk.
Bytes RgbFile(const Bytes& stream, size_t chunkSize, const Bytes& between = Bytes())
{
	Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
	Bytes header;
	PutBigEndian32(header, kWidth);
	PutBigEndian32(header, kHeight);
	header.insert(header.end(), {8, PNG_COLOR_TYPE_RGB, 0, 0, 0});
	Bytes chunks = Chunk("IHDR", header);
	for (size_t start = 0; start < stream.size(); start += chunkSize) {
		size_t end = std::min(stream.size(), start + chunkSize);
		Bytes idat = Chunk("IDAT", Bytes(stream.begin() + start, stream.begin() + end));
		chunks.insert(chunks.end(), idat.begin(), idat.end());
		if (start == 0)
			chunks.insert(chunks.end(), between.begin(), between.end());
	}
	Bytes end = Chunk("IEND", Bytes());
	file.insert(file.end(), chunks.begin(), chunks.end());
	file.insert(file.end(), end.begin(), end.end());
	return file;
}

// Rows of `height` rows led by filter type `type`, the bytes a ramp.
Bytes FilteredRows(uint32 height, uint8 type = 0)
{
	Bytes rows;
	for (uint32 y = 0; y < height; y++) {
		rows.push_back(type);
		for (uint32 x = 0; x < kWidth * 3; x++)
			rows.push_back((uint8)(x + y * 3));
	}
	return rows;
}

Bytes Compressed(const Bytes& data)
{
	uLongf size = compressBound(data.size());
	Bytes out(size);
	EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), 9), Z_OK);
	out.resize(size);
	return out;
}

// The pixels libpng reads from a file in memory, as BGRA words.
std::vector<uint32> LibpngWords(const Bytes& file)
{
	png_image image;
	memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
		ADD_FAILURE() << image.message;
		return {};
	}
	image.format = PNG_FORMAT_BGRA;
	std::vector<uint32> words((size_t)image.width * image.height);
	if (!png_image_finish_read(&image, NULL, words.data(), 0, NULL))
		ADD_FAILURE() << image.message;
	return words;
}

struct Kind {
	const char* name;
	int colorType;
};

void PrintTo(const Kind& kind, std::ostream* out)
{
	*out << kind.name;
}

const Kind kKinds[] = {
    {"grey", PNG_COLOR_TYPE_GRAY},
    {"grey_alpha", PNG_COLOR_TYPE_GRAY_ALPHA},
    {"rgb", PNG_COLOR_TYPE_RGB},
};

class PngWholeDataKindTest : public ScratchTest, public ::testing::WithParamInterface<Kind> {};

// A file libpng wrote, every filter type in it, reads as libpng reads it.
TEST_P(PngWholeDataKindTest, ReadsAsLibpng)
{
	PngImage image;
	image.width = 301;
	image.height = 203;
	image.colorType = GetParam().colorType;
	int channels = image.colorType == PNG_COLOR_TYPE_RGB ? 3 : image.colorType == 0 ? 1 : 2;
	BitmapPtr noise = MakeBitmap(image.width * channels, image.height, B_RGBA32);
	FillRandom(noise.get(), 5, 0, 9);
	for (uint32 y = 0; y < image.height; y++) {
		Bytes row;
		for (uint32 x = 0; x < image.width * channels; x++)
			row.push_back((uint8)(x / channels + 2 * y + (WordAt(*noise, x, y) & 0xff)));
		image.rows.push_back(row);
	}
	Bytes file = EncodePng(image);
	WriteBytes(Path("in.png"), file);
	std::string error;
	std::unique_ptr<BBitmap> read = ReadImage(Path("in.png"), ImageLimits(), error);
	ASSERT_NE(read, nullptr) << error;
	EXPECT_EQ(Words(*read), LibpngWords(file));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngWholeDataKindTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
	                         return std::string(info.param.name);
                         });

class PngWholeDataTest : public ScratchTest {};

// Image data cut into one-byte chunks, with a text chunk after them, read whole: the pixels and
// the text.
TEST_F(PngWholeDataTest, ReadsDataInTinyChunksAndTheChunksAfter)
{
	Bytes file = RgbFile(Compressed(FilteredRows(kHeight, 2)), 1);
	Bytes text = Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'});
	file.insert(file.end() - 12, text.begin(), text.end());
	WriteBytes(Path("in.png"), file);
	std::string error;
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> read = ReadImage(Path("in.png"), ImageLimits(), error, &metadata);
	ASSERT_NE(read, nullptr) << error;
	EXPECT_EQ(Words(*read), LibpngWords(file));
	ASSERT_EQ(metadata.texts.size(), 1u);
	EXPECT_EQ(metadata.texts[0].text, "hi");
}

// A stream that cannot seek, whose size is not known, is read the same.
TEST_F(PngWholeDataTest, ReadsFromAPipe)
{
	Bytes file = RgbFile(Compressed(FilteredRows(kHeight, 1)), 100);
	WriteBytes(Path("in.png"), file);
	FILE* pipe = popen(("cat " + Path("in.png")).c_str(), "r");
	ASSERT_NE(pipe, nullptr);
	std::string error;
	std::unique_ptr<BBitmap> read = ReadImageStream(pipe, "pipe", ImageLimits(), error);
	pclose(pipe);
	ASSERT_NE(read, nullptr) << error;
	EXPECT_EQ(Words(*read), LibpngWords(file));
}

struct Damage {
	const char* name;
	std::function<Bytes()> make;
	const char* message;
};

void PrintTo(const Damage& row, std::ostream* out)
{
	*out << row.name;
}

const Damage kDamages[] = {
    {"stream_short_of_a_row", [] { return RgbFile(Compressed(FilteredRows(kHeight - 1)), 50); },
     "damaged PNG data (IDAT: not enough image data)"},
    {"stream_a_row_too_long", [] { return RgbFile(Compressed(FilteredRows(kHeight + 1)), 50); },
     "damaged PNG data (IDAT: too much image data)"},
    {"bytes_after_the_stream",
     [] {
	     Bytes stream = Compressed(FilteredRows(kHeight));
	     stream.insert(stream.end(), {1, 2, 3});
	     return RgbFile(stream, 50);
     },
     "damaged PNG data (IDAT: extra compressed data)"},
    {"broken_stream",
     [] {
	     Bytes stream = Compressed(FilteredRows(kHeight));
	     stream[stream.size() - 2] ^= 0xff;
	     return RgbFile(stream, 50);
     },
     "damaged PNG data (IDAT: bad compressed data)"},
    {"filter_type_5", [] { return RgbFile(Compressed(FilteredRows(kHeight, 5)), 50); },
     "damaged PNG data (bad adaptive filter value)"},
    {"chunk_between_image_data",
     [] {
	     return RgbFile(Compressed(FilteredRows(kHeight)), 50,
	                    Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'}));
     },
     "damaged PNG data"},
    {"bad_crc_in_second_chunk",
     [] {
	     Bytes file = RgbFile(Compressed(FilteredRows(kHeight)), 50);
	     // Signature 8, IHDR 25, the first IDAT 62: the second IDAT's CRC ends 12 bytes on.
	     file[8 + 25 + 62 + 8 + 50] ^= 1;
	     return file;
     },
     "damaged PNG data (IDAT: CRC error)"},
    {"cut_in_second_chunk",
     [] {
	     Bytes file = RgbFile(Compressed(FilteredRows(kHeight)), 50);
	     file.resize(8 + 25 + 62 + 30);
	     return file;
     },
     "truncated PNG data"},
    {"chunk_claiming_two_gigabytes",
     [] {
	     Bytes file = RgbFile(Compressed(FilteredRows(kHeight)), 50);
	     size_t length = 8 + 25 + 62;
	     file[length] = 0x7f;
	     file[length + 1] = 0xff;
	     return file;
     },
     "damaged PNG data (IDAT: too much image data)"},
};

class PngWholeDataDamageTest : public ScratchTest, public ::testing::WithParamInterface<Damage> {};

// Damaged image data give no bitmap and a message naming the damage.
TEST_P(PngWholeDataDamageTest, IsRefusedWithItsMessage)
{
	const Damage& row = GetParam();
	WriteBytes(Path("in.png"), row.make());
	std::string error;
	EXPECT_EQ(ReadImage(Path("in.png"), ImageLimits(), error), nullptr);
	EXPECT_NE(error.find(row.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Damages, PngWholeDataDamageTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
	                         return std::string(info.param.name);
                         });

} // namespace
