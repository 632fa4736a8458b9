// WriteImage followed by ReadImage: PNG keeps every pixel, JPEG keeps the picture.
#include <cstdlib>

#include <sys/stat.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

struct PngRoundTrip {
	const char* name;
	color_space space;
	int compression;
	bool grey;
	// The colour type the file must declare.
	uint8 colorType;
};

void PrintTo(const PngRoundTrip& row, std::ostream* out)
{
	*out << row.name;
}

const PngRoundTrip kPngRoundTrips[] = {
    {"rgb32_level0", B_RGB32, 0, false, 2},     {"rgb32_level1", B_RGB32, 1, false, 2},
    {"rgb32_level2", B_RGB32, 2, false, 2},     {"rgb32_level9", B_RGB32, 9, false, 2},
    {"rgba32_level0", B_RGBA32, 0, false, 6},   {"rgba32_level1", B_RGBA32, 1, false, 6},
    {"rgba32_level9", B_RGBA32, 9, false, 6},   {"grey_rgb32_level1", B_RGB32, 1, true, 0},
    {"grey_rgb32_level6", B_RGB32, 6, true, 0}, {"grey_rgba32_level1", B_RGBA32, 1, true, 4},
};

// Random pixels, or random grey levels with random alpha.
BitmapPtr MakeSource(const PngRoundTrip& row)
{
	BitmapPtr source = MakeBitmap(37, 23, row.space);
	FillRandom(source.get(), 7);
	if (!row.grey)
		return source;
	for (int32 y = 0; y < 23; y++) {
		for (int32 x = 0; x < 37; x++) {
			uint32 word = WordAt(*source, x, y);
			uint8 level = word & 0xff;
			SetWordAt(*source, x, y, Word(level, level, level, word >> 24));
		}
	}
	return source;
}

class PngRoundTripTest : public ScratchTest, public ::testing::WithParamInterface<PngRoundTrip> {};

// A PNG written and read back has the same colour space and pixels (B_RGB32 with 255 in the
// fourth byte whatever it held, B_RGBA32 with its alpha), grey pictures stored as grey.
TEST_P(PngRoundTripTest, KeepsEveryPixel)
{
	const PngRoundTrip& row = GetParam();
	BitmapPtr source = MakeSource(row);
	WriteOptions options;
	options.pngCompression = row.compression;
	std::string error;
	ASSERT_TRUE(WriteImage(*source, Path("out.png"), options, error)) << error;
	// The colour type is byte 25: signature, IHDR length and type, width, height, bit depth.
	Bytes file = ReadBytes(Path("out.png"));
	ASSERT_GT(file.size(), 25u);
	EXPECT_EQ(file[25], row.colorType);

	std::unique_ptr<BBitmap> result = ReadImage(Path("out.png"), ImageLimits(), error);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(result->ColorSpace(), row.space);
	EXPECT_EQ(result->Bounds(), source->Bounds());
	std::vector<uint32> expected = Words(*source);
	if (row.space == B_RGB32) {
		for (uint32& word : expected)
			word |= 0xff000000;
	}
	EXPECT_EQ(Words(*result), expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, PngRoundTripTest, ::testing::ValuesIn(kPngRoundTrips),
                         [](const ::testing::TestParamInfo<PngRoundTrip>& info) {
	                         return std::string(info.param.name);
                         });

class RoundTripTest : public ScratchTest {};

// A sample photograph written as JPEG at the default quality reads back as B_RGB32 close to the
// original: the mean difference per channel stays small and alpha becomes 255.
TEST_F(RoundTripTest, JpegKeepsThePicture)
{
	BitmapPtr source = ReadSample("astronaut.png");
	ASSERT_NE(source, nullptr);
	std::string error;
	ASSERT_TRUE(WriteImage(*source, Path("out.jpg"), WriteOptions(), error)) << error;

	std::unique_ptr<BBitmap> result = ReadImage(Path("out.jpg"), ImageLimits(), error);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(result->ColorSpace(), B_RGB32);
	ASSERT_EQ(result->Bounds(), source->Bounds());
	std::vector<uint32> before = Words(*source);
	std::vector<uint32> after = Words(*result);
	int64 difference = 0;
	for (size_t i = 0; i < before.size(); i++) {
		for (int shift = 0; shift < 24; shift += 8)
			difference +=
			    std::abs((int)((before[i] >> shift) & 0xff) - (int)((after[i] >> shift) & 0xff));
		EXPECT_EQ(after[i] >> 24, 255u);
	}
	EXPECT_LT((double)difference / (before.size() * 3), 3.0);
}

// The extension picks the format whatever its case, and the file gets the usual permissions of
// a new file rather than those of a private temporary file.
TEST_F(RoundTripTest, ExtensionChoosesTheFormat)
{
	const struct {
		const char* name;
		uint8 firstByte;
	} kNames[] = {
	    {"a.png", 0x89}, {"b.PNG", 0x89}, {"c.jpg", 0xff}, {"d.JPEG", 0xff}, {"e.Jpeg", 0xff}};
	BitmapPtr source = MakeBitmap(8, 8, B_RGB32);
	FillRandom(source.get(), 3);
	mode_t mask = umask(022);
	for (const auto& name : kNames) {
		std::string error;
		ASSERT_TRUE(WriteImage(*source, Path(name.name), WriteOptions(), error)) << error;
		Bytes bytes = ReadBytes(Path(name.name));
		ASSERT_FALSE(bytes.empty());
		EXPECT_EQ(bytes[0], name.firstByte) << name.name;
		struct stat status;
		ASSERT_EQ(stat(Path(name.name).c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 0777, 0644u) << name.name;
	}
	umask(mask);
}

// Writing over an existing file replaces it in one step when asked to, and only then.
TEST_F(RoundTripTest, ReplacesAnExistingFile)
{
	WriteBytes(Path("out.png"), Bytes(1000, 'x'));
	BitmapPtr source = MakeBitmap(5, 4, B_RGBA32);
	FillRandom(source.get(), 11);
	std::string error;
	EXPECT_FALSE(WriteImage(*source, Path("out.png"), WriteOptions(), error));
	EXPECT_EQ(error, Path("out.png") + ": exists; not replacing it");
	EXPECT_EQ(ReadBytes(Path("out.png")), Bytes(1000, 'x'));
	WriteOptions replacing;
	replacing.existing = Existing::kReplace;
	ASSERT_TRUE(WriteImage(*source, Path("out.png"), replacing, error)) << error;
	std::unique_ptr<BBitmap> result = ReadImage(Path("out.png"), ImageLimits(), error);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(Words(*result), Words(*source));
	EXPECT_EQ(Entries().size(), 1u);
}

} // namespace
