// Single-pixel access to a bitmap in a 32-bit colour space.
#ifndef BITMAP_DRAWER_H
#define BITMAP_DRAWER_H

#include <Bitmap.h>
#include <GraphicsDefs.h>
#include <SupportDefs.h>

// A pixel word holds blue in bits 0-7, green in 8-15, red in 16-23 and alpha in 24-31.
//
// The accessor neither owns, locks nor checks its bitmap: callers keep 0 <= x <= IntegerWidth()
// and 0 <= y <= IntegerHeight() and use it only on B_RGB32 or B_RGBA32 bitmaps with pixel memory.
class BitmapDrawer {
public:
	BitmapDrawer(BBitmap* bitmap);

	uint32 GetPixel(int32 x, int32 y) { return bits[y * rowLength + x]; }

	void GetPixel(int32 x, int32 y, rgb_color* out)
	{
		uint32 word = GetPixel(x, y);
		out->red = (word >> 16) & 0xff;
		out->green = (word >> 8) & 0xff;
		out->blue = word & 0xff;
		out->alpha = word >> 24;
	}

	void SetPixel(int32 x, int32 y, uint32 value) { bits[y * rowLength + x] = value; }

	void SetPixel(int32 x, int32 y, const rgb_color& color)
	{
		SetPixel(x, y,
		         (uint32)color.alpha << 24 | (uint32)color.red << 16 | (uint32)color.green << 8 |
		             color.blue);
	}

	uint32* bits;
	// Pixel words from the start of one row to the start of the next.
	int32 rowLength;
};

#endif // BITMAP_DRAWER_H
