// The pixel accessor: word layout, the rgb_color split and pack, and rows found through
// BytesPerRow().
#include <cstring>

#include <gtest/gtest.h>

#include <BitmapDrawer.h>

namespace {

// Bytes 16, 64, 255, 128 in memory are blue 16, green 64, red 255, alpha 128, and pack back to
// the same word.
TEST(BitmapDrawer, SplitsAndPacksPixelWords)
{
	BBitmap bitmap(BRect(0, 0, 1, 1), B_RGBA32);
	const uint8 bytes[4] = {16, 64, 255, 128};
	memcpy(static_cast<uint8*>(bitmap.Bits()) + bitmap.BytesPerRow() + 4, bytes, 4);

	BitmapDrawer drawer(&bitmap);
	rgb_color color;
	drawer.GetPixel(1, 1, &color);
	EXPECT_EQ(color.red, 255);
	EXPECT_EQ(color.green, 64);
	EXPECT_EQ(color.blue, 16);
	EXPECT_EQ(color.alpha, 128);

	drawer.SetPixel(0, 0, color);
	EXPECT_EQ(drawer.GetPixel(0, 0), drawer.GetPixel(1, 1));
	EXPECT_EQ(memcmp(bitmap.Bits(), bytes, 4), 0);
}

// Row y starts y x rowLength words in, with rowLength taken from BytesPerRow(), not the width:
// a 13-byte-wide 8-bit bitmap has 16-byte rows, so 4 words a row.
TEST(BitmapDrawer, RowsFollowBytesPerRow)
{
	BBitmap bitmap(BRect(0, 0, 12, 2), B_GRAY8);
	ASSERT_EQ(bitmap.BytesPerRow(), 16);
	BitmapDrawer drawer(&bitmap);
	EXPECT_EQ(drawer.rowLength, 4);
	drawer.SetPixel(1, 2, 0xDEADBEEF);
	uint32 word;
	memcpy(&word, static_cast<uint8*>(bitmap.Bits()) + 2 * 16 + 4, 4);
	EXPECT_EQ(word, 0xDEADBEEFu);
}

} // namespace
