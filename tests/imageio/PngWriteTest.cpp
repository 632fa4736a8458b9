// Writing PNG files: the image data filtered and deflated in strips on several threads is one
// valid zlib stream, the same bytes whatever the number of threads, and libpng reads every file
// back pixel for pixel.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <png.h>
#include <zlib.h>

#include "ImageCodecs.h"
#include "ImageFile.h"
#include "PngImageData.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

struct Shape {
	const char* name;
	int32 width;
	int32 height;
	PngPixels pixels;
};

// Strips hold about half a megabyte of filtered rows: the last shapes make several, the last of
// them short.
const Shape kShapes[] = {
    {"rgb_1x1", 1, 1, PngPixels::kRgb},
    {"rgb_one_row", 301, 1, PngPixels::kRgb},
    {"rgba_one_column", 1, 301, PngPixels::kRgba},
    {"grey_odd", 37, 23, PngPixels::kGrey},
    {"grey_alpha_odd", 37, 23, PngPixels::kGreyAlpha},
    {"rgb_three_strips", 701, 601, PngPixels::kRgb},
    {"rgba_one_column_two_strips", 1, 130001, PngPixels::kRgba},
};

const int kThreadCounts[] = {1, 2, 3, 7};

size_t Channels(PngPixels pixels)
{
	switch (pixels) {
	case PngPixels::kGrey:
		return 1;
	case PngPixels::kGreyAlpha:
		return 2;
	case PngPixels::kRgb:
		return 3;
	case PngPixels::kRgba:
		return 4;
	}
	return 0;
}

// A picture that compresses as photographs do: smooth ramps with a little noise, grey where the
// pixels are grey.
BitmapPtr MakePicture(const Shape& shape)
{
	bool alpha = shape.pixels == PngPixels::kRgba || shape.pixels == PngPixels::kGreyAlpha;
	bool grey = shape.pixels == PngPixels::kGrey || shape.pixels == PngPixels::kGreyAlpha;
	BitmapPtr noise = MakeBitmap(shape.width, shape.height, B_RGBA32);
	FillRandom(noise.get(), 11, 0, 7);
	BitmapPtr picture = MakeBitmap(shape.width, shape.height, alpha ? B_RGBA32 : B_RGB32);
	for (int32 y = 0; y < shape.height; y++) {
		for (int32 x = 0; x < shape.width; x++) {
			uint32 random = WordAt(*noise, x, y);
			uint8 red = (uint8)(x + (random >> 16 & 0xff));
			uint8 green = grey ? red : (uint8)(y + (random >> 8 & 0xff));
			uint8 blue = grey ? red : (uint8)(x + y + (random & 0xff));
			SetWordAt(*picture, x, y, Word(red, green, blue, alpha ? (uint8)(random >> 24) : 255));
		}
	}
	return picture;
}

// The image data as the file stores it before filtering.
Bytes StoredRows(const BBitmap& bitmap, PngPixels pixels)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	Bytes rows;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++) {
			uint32 word = WordAt(bitmap, x, y);
			uint8 red = word >> 16 & 0xff;
			uint8 alpha = word >> 24;
			switch (pixels) {
			case PngPixels::kGrey:
				rows.push_back(red);
				break;
			case PngPixels::kGreyAlpha:
				rows.insert(rows.end(), {red, alpha});
				break;
			case PngPixels::kRgb:
				rows.insert(rows.end(), {red, (uint8)(word >> 8), (uint8)word});
				break;
			case PngPixels::kRgba:
				rows.insert(rows.end(), {red, (uint8)(word >> 8), (uint8)word, alpha});
				break;
			}
		}
	}
	return rows;
}

// Undoes the filters as the PNG format defines them; fails the test on an unknown filter type.
Bytes Unfilter(const Bytes& filtered, size_t rowBytes, size_t channels)
{
	Bytes rows;
	Bytes above(rowBytes, 0);
	for (size_t start = 0; start + rowBytes + 1 <= filtered.size(); start += rowBytes + 1) {
		uint8 type = filtered[start];
		Bytes row(filtered.begin() + start + 1, filtered.begin() + start + 1 + rowBytes);
		for (size_t i = 0; i < rowBytes; i++) {
			int left = i >= channels ? row[i - channels] : 0;
			int aboveLeft = i >= channels ? above[i - channels] : 0;
			int up = above[i];
			int p = left + up - aboveLeft;
			int predictor = 0;
			if (type == 1)
				predictor = left;
			else if (type == 2)
				predictor = up;
			else if (type == 3)
				predictor = (left + up) / 2;
			else if (type == 4)
				predictor = abs(p - left) <= abs(p - up) && abs(p - left) <= abs(p - aboveLeft)
				                ? left
				            : abs(p - up) <= abs(p - aboveLeft) ? up
				                                                : aboveLeft;
			else if (type != 0)
				ADD_FAILURE() << "filter type " << (int)type;
			row[i] = (uint8)(row[i] + predictor);
		}
		rows.insert(rows.end(), row.begin(), row.end());
		above = row;
	}
	return rows;
}

// The whole zlib stream inflated; the test fails unless it ends where its data end, its
// checksum right.
Bytes Inflate(const Bytes& stream)
{
	z_stream z = {};
	EXPECT_EQ(inflateInit(&z), Z_OK);
	Bytes out;
	uint8 buffer[65536];
	z.next_in = const_cast<uint8*>(stream.data());
	z.avail_in = (uInt)stream.size();
	int result = Z_OK;
	while (result == Z_OK) {
		z.next_out = buffer;
		z.avail_out = sizeof(buffer);
		result = inflate(&z, Z_NO_FLUSH);
		out.insert(out.end(), buffer, buffer + (sizeof(buffer) - z.avail_out));
	}
	EXPECT_EQ(result, Z_STREAM_END) << (z.msg != NULL ? z.msg : "");
	EXPECT_EQ(z.avail_in, 0u);
	inflateEnd(&z);
	return out;
}

// The stream WritePngImageData makes, with the size of each piece.
Bytes ImageData(const BBitmap& bitmap, PngPixels pixels, int compression, int threads,
                std::vector<size_t>* pieces = NULL)
{
	Bytes stream;
	std::string error;
	PngDataSink sink = [&](const uint8* data, size_t size) {
		stream.insert(stream.end(), data, data + size);
		if (pieces != NULL)
			pieces->push_back(size);
		return true;
	};
	EXPECT_TRUE(WritePngImageData(bitmap, pixels, compression, threads, sink, error)) << error;
	return stream;
}

struct Case {
	Shape shape;
	int compression;
};

void PrintTo(const Case& row, std::ostream* out)
{
	*out << row.shape.name << "_level" << row.compression;
}

std::vector<Case> Cases()
{
	std::vector<Case> cases;
	for (const Shape& shape : kShapes) {
		for (int compression : {1, 2, 6, 9})
			cases.push_back({shape, compression});
	}
	return cases;
}

class PngImageDataTest : public ::testing::TestWithParam<Case> {};

// Whatever the number of threads, the image data are the same bytes: one zlib stream that
// inflates to the rows, each led by a filter type, which unfiltered give the pixels.
TEST_P(PngImageDataTest, IsOneStreamOfTheFilteredRows)
{
	const Case& row = GetParam();
	BitmapPtr picture = MakePicture(row.shape);
	Bytes stream = ImageData(*picture, row.shape.pixels, row.compression, 1);
	for (int threads : kThreadCounts)
		EXPECT_EQ(ImageData(*picture, row.shape.pixels, row.compression, threads), stream)
		    << threads << " threads";

	size_t channels = Channels(row.shape.pixels);
	size_t rowBytes = (size_t)row.shape.width * channels;
	Bytes filtered = Inflate(stream);
	ASSERT_EQ(filtered.size(), (rowBytes + 1) * row.shape.height);
	EXPECT_EQ(Unfilter(filtered, rowBytes, channels), StoredRows(*picture, row.shape.pixels));
}

INSTANTIATE_TEST_SUITE_P(Shapes, PngImageDataTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
	                         return std::string(info.param.shape.name) + "_level" +
	                                std::to_string(info.param.compression);
                         });

// Photograph-like rows pick the filters that predict, not None: the filter choice is made.
TEST(PngImageDataFilters, PredictingFiltersAreChosenForSmoothRows)
{
	BitmapPtr picture = MakePicture(kShapes[5]);
	Bytes filtered = Inflate(ImageData(*picture, PngPixels::kRgb, 1, 2));
	size_t rowBytes = (size_t)kShapes[5].width * 3 + 1;
	int predicted = 0;
	for (size_t start = 0; start < filtered.size(); start += rowBytes)
		predicted += filtered[start] != 0;
	EXPECT_GT(predicted, kShapes[5].height / 2);
}

// Every chunk's data but the last have the same size, whatever the strips, and a sink that
// refuses stops the writing at once, on every thread, without an error of its own.
TEST(PngImageDataSink, RefusingStopsTheWriting)
{
	BitmapPtr picture = MakePicture(kShapes[5]);
	std::vector<size_t> pieces;
	ImageData(*picture, PngPixels::kRgb, 9, 2, &pieces);
	ASSERT_GT(pieces.size(), 2u);
	for (size_t i = 1; i + 1 < pieces.size(); i++)
		EXPECT_EQ(pieces[i], pieces[0]);

	int calls = 0;
	PngDataSink refusing = [&calls](const uint8*, size_t) { return ++calls < 2; };
	std::string error;
	EXPECT_FALSE(WritePngImageData(*picture, PngPixels::kRgb, 9, 3, refusing, error));
	EXPECT_EQ(calls, 2);
	EXPECT_EQ(error, "");
}

// The pixels libpng reads from a file, as BGRA words.
std::vector<uint32> ReadWithLibpng(const std::string& path, int32 width, int32 height)
{
	png_image image;
	memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	std::vector<uint32> words((size_t)width * height);
	if (!png_image_begin_read_from_file(&image, path.c_str())) {
		ADD_FAILURE() << image.message;
		return {};
	}
	image.format = PNG_FORMAT_BGRA;
	EXPECT_EQ(image.width, (uint32)width);
	EXPECT_EQ(image.height, (uint32)height);
	if (!png_image_finish_read(&image, NULL, words.data(), 0, NULL))
		ADD_FAILURE() << image.message;
	return words;
}

struct FileCase {
	color_space space;
	int compression;
};

class PngWriteTest : public ScratchTest, public ::testing::WithParamInterface<FileCase> {};

// At every compression, RGB and RGBA files written are read back pixel for pixel, by libpng and
// by ReadImage alike.
TEST_P(PngWriteTest, LibpngReadsEveryPixel)
{
	const FileCase& row = GetParam();
	Shape shape = {"", 701, 601, row.space == B_RGBA32 ? PngPixels::kRgba : PngPixels::kRgb};
	BitmapPtr picture = MakePicture(shape);
	WriteOptions options;
	options.pngCompression = row.compression;
	std::string error;
	ASSERT_TRUE(WriteImage(*picture, Path("out.png"), options, error)) << error;
	std::vector<uint32> expected = Words(*picture);
	EXPECT_EQ(ReadWithLibpng(Path("out.png"), shape.width, shape.height), expected);
	std::unique_ptr<BBitmap> read = ReadImage(Path("out.png"), ImageLimits(), error);
	ASSERT_NE(read, nullptr) << error;
	EXPECT_EQ(Words(*read), expected);
}

std::vector<FileCase> FileCases()
{
	std::vector<FileCase> cases;
	for (color_space space : {B_RGB32, B_RGBA32}) {
		for (int compression = 0; compression <= 9; compression++)
			cases.push_back({space, compression});
	}
	return cases;
}

INSTANTIATE_TEST_SUITE_P(Compressions, PngWriteTest, ::testing::ValuesIn(FileCases()),
                         [](const ::testing::TestParamInfo<FileCase>& info) {
	                         return std::string(info.param.space == B_RGBA32 ? "rgba" : "rgb") +
	                                "_level" + std::to_string(info.param.compression);
                         });

class PngStoredTest : public ScratchTest {};

// Compression 0 stores the rows unfiltered in one stored deflate block, as libpng writes them:
// the signature, IHDR, one IDAT and IEND, byte for byte.
TEST_F(PngStoredTest, KeepsItsLayout)
{
	BitmapPtr picture = MakeBitmap(2, 2, B_RGB32);
	SetWordAt(*picture, 0, 0, Word(0x10, 0x20, 0x30, 255));
	SetWordAt(*picture, 1, 0, Word(0x40, 0x50, 0x60, 255));
	SetWordAt(*picture, 0, 1, Word(0x70, 0x80, 0x90, 255));
	SetWordAt(*picture, 1, 1, Word(0xa0, 0xb0, 0xc0, 255));
	WriteOptions options;
	options.pngCompression = 0;
	std::string error;
	ASSERT_TRUE(WriteImage(*picture, Path("out.png"), options, error)) << error;
	const Bytes expected = {
	    // Signature.
	    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a,
	    // IHDR: 2 x 2, 8 bits, RGB, deflate, adaptive filters, not interlaced.
	    0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
	    0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73,
	    // IDAT: a zlib header for a 256-byte window, one final stored block of the 14 bytes of
	    // two rows, filter type 0 each, and the Adler-32 checksum.
	    0x00, 0x00, 0x00, 0x19, 0x49, 0x44, 0x41, 0x54, 0x08, 0x1d, 0x01, 0x0e, 0x00, 0xf1, 0xff,
	    0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x00, 0x70, 0x80, 0x90, 0xa0, 0xb0, 0xc0, 0x18,
	    0x1e, 0x04, 0xe1, 0x9d, 0x0a, 0x2c, 0x2f,
	    // IEND.
	    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
	EXPECT_EQ(ReadBytes(Path("out.png")), expected);
}

// A write that fails midway, with threads at work, is reported with the system's reason.
TEST(PngWriteFailure, FullDiskIsReported)
{
	BitmapPtr picture = MakePicture(kShapes[5]);
	for (int compression : {0, 1}) {
		FILE* file = fopen("/dev/full", "w");
		ASSERT_NE(file, nullptr) << strerror(errno);
		WriteOptions options;
		options.pngCompression = compression;
		std::string error;
		EXPECT_FALSE(WritePng(*picture, file, options, NULL, error));
		EXPECT_EQ(error, "cannot write: No space left on device") << compression;
		fclose(file);
	}
}

} // namespace
