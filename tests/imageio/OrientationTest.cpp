// Photographs stored turned or mirrored, as cameras held sideways store them, are read standing
// as viewers show them, following their EXIF orientation.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

// An APP1 payload with EXIF data whose only entry is the orientation.
Bytes ExifWithOrientation(uint16 orientation)
{
	Bytes exif = {'E', 'x', 'i', 'f', 0, 0,
	              // Little-endian TIFF header, first directory at offset 8.
	              'I', 'I', 42, 0, 8, 0, 0, 0,
	              // One entry: tag 0x0112 (orientation), type SHORT, count 1, the value.
	              1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, (uint8)orientation, (uint8)(orientation >> 8),
	              0, 0,
	              // No next directory.
	              0, 0, 0, 0};
	return exif;
}

JpegImage Photograph()
{
	JpegImage image;
	image.width = 5;
	image.height = 3;
	image.components = 3;
	image.inputSpace = JCS_RGB;
	image.fileSpace = JCS_YCbCr;
	for (int i = 0; i < 5 * 3 * 3; i++)
		image.samples.push_back((uint8)(i * 37 + 11));
	return image;
}

// Where the pixel stored at (x, y) of a width x height image is shown, for each orientation.
void Shown(int orientation, int32 width, int32 height, int32 x, int32 y, int32& shownX,
           int32& shownY)
{
	const int32 places[9][2] = {
	    {x, y},
	    {x, y},
	    {width - 1 - x, y},
	    {width - 1 - x, height - 1 - y},
	    {x, height - 1 - y},
	    {y, x},
	    {height - 1 - y, x},
	    {height - 1 - y, width - 1 - x},
	    {y, width - 1 - x},
	};
	shownX = places[orientation][0];
	shownY = places[orientation][1];
}

class Orientation : public ScratchTest, public testing::WithParamInterface<int> {};

// Each pixel lands where a viewer shows it, and the sides swap for the quarter turns; with
// auto-orientation off, the pixels come as stored.
TEST_P(Orientation, IsApplied)
{
	int orientation = GetParam();
	JpegImage image = Photograph();
	WriteJpegFile(Path("plain.jpg"), image);
	image.app1 = ExifWithOrientation((uint16)orientation);
	WriteJpegFile(Path("tagged.jpg"), image);

	std::string error;
	std::unique_ptr<BBitmap> stored = ReadImage(Path("plain.jpg"), ImageLimits(), error);
	ASSERT_NE(stored, nullptr) << error;
	std::unique_ptr<BBitmap> upright = ReadImage(Path("tagged.jpg"), ImageLimits(), error);
	ASSERT_NE(upright, nullptr) << error;

	bool quarter = orientation >= 5;
	EXPECT_EQ(upright->Bounds(), quarter ? BRect(0, 0, 2, 4) : BRect(0, 0, 4, 2));
	for (int32 y = 0; y < 3; y++) {
		for (int32 x = 0; x < 5; x++) {
			int32 shownX;
			int32 shownY;
			Shown(orientation, 5, 3, x, y, shownX, shownY);
			EXPECT_EQ(WordAt(*upright, shownX, shownY), WordAt(*stored, x, y))
			    << "stored at " << x << ", " << y;
		}
	}

	ImageLimits asStored;
	asStored.autoOrient = false;
	std::unique_ptr<BBitmap> unturned = ReadImage(Path("tagged.jpg"), asStored, error);
	ASSERT_NE(unturned, nullptr) << error;
	EXPECT_EQ(Words(*unturned), Words(*stored));
}

INSTANTIATE_TEST_SUITE_P(Exif, Orientation, testing::Range(1, 9));

// Damaged EXIF data, or an orientation out of range, leave the pixels as stored.
TEST_F(ScratchTest, DamagedExifLeavesThePixels)
{
	JpegImage image = Photograph();
	WriteJpegFile(Path("plain.jpg"), image);
	std::string error;
	std::unique_ptr<BBitmap> stored = ReadImage(Path("plain.jpg"), ImageLimits(), error);
	ASSERT_NE(stored, nullptr) << error;

	Bytes cut = ExifWithOrientation(6);
	cut.resize(20);
	Bytes outOfRange = ExifWithOrientation(9);
	Bytes badOffset = ExifWithOrientation(6);
	badOffset[10] = 0xff;
	for (const Bytes& exif : {cut, outOfRange, badOffset}) {
		image.app1 = exif;
		WriteJpegFile(Path("damaged.jpg"), image);
		std::unique_ptr<BBitmap> read = ReadImage(Path("damaged.jpg"), ImageLimits(), error);
		ASSERT_NE(read, nullptr) << error;
		EXPECT_EQ(Words(*read), Words(*stored));
	}
}

// A PNG's eXIf chunk, whose payload is the TIFF structure without JPEG's "Exif" header, turns
// the picture the same way.
TEST_F(ScratchTest, PngExifChunkIsApplied)
{
	PngImage image;
	image.width = 3;
	image.height = 2;
	image.colorType = PNG_COLOR_TYPE_RGB;
	image.rows = {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18}};
	Bytes png = EncodePng(image);
	Bytes exif = ExifWithOrientation(6);
	Bytes data(exif.begin() + 6, exif.end());
	// The chunk goes right after the header chunk, which ends at byte 33.
	Bytes chunk = {0, 0, 0, (uint8)data.size(), 'e', 'X', 'I', 'f'};
	chunk.insert(chunk.end(), data.begin(), data.end());
	uLong crc = crc32(0, chunk.data() + 4, (uInt)(chunk.size() - 4));
	for (int shift = 24; shift >= 0; shift -= 8)
		chunk.push_back((uint8)(crc >> shift));
	WriteBytes(Path("plain.png"), png);
	png.insert(png.begin() + 33, chunk.begin(), chunk.end());
	WriteBytes(Path("tagged.png"), png);

	std::string error;
	std::unique_ptr<BBitmap> stored = ReadImage(Path("plain.png"), ImageLimits(), error);
	ASSERT_NE(stored, nullptr) << error;
	std::unique_ptr<BBitmap> upright = ReadImage(Path("tagged.png"), ImageLimits(), error);
	ASSERT_NE(upright, nullptr) << error;
	ASSERT_EQ(upright->Bounds(), BRect(0, 0, 1, 2));
	for (int32 y = 0; y < 2; y++) {
		for (int32 x = 0; x < 3; x++) {
			int32 shownX;
			int32 shownY;
			Shown(6, 3, 2, x, y, shownX, shownY);
			EXPECT_EQ(WordAt(*upright, shownX, shownY), WordAt(*stored, x, y));
		}
	}
}

} // namespace
