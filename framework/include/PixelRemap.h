// The one loop behind every filter that moves pixel words unchanged to new places: copy,
// quarter turns and mirror images. Each filter only says where a pixel goes.
#ifndef PIXEL_REMAP_H
#define PIXEL_REMAP_H

#include <Bitmap.h>
#include <Rect.h>
#include <SupportDefs.h>

// Source pixel (x, y) goes to destination column xFromX * x + xFromY * y + xOffset and row
// yFromX * x + yFromY * y + yOffset. The coefficients are -1, 0 or 1 and must send every source
// pixel into the destination.
struct PixelPlacement {
	int32 xFromX;
	int32 xFromY;
	int32 xOffset;
	int32 yFromX;
	int32 yFromY;
	int32 yOffset;
};

// Creates a destination over `destinationBounds` (see CreateAccessorDestination()) and moves
// every pixel word of `source` to the place `placement` gives it. The caller owns the result.
// Returns NULL, leaving nothing allocated, for a source the pixel accessor cannot serve.
BBitmap* RemapPixels(BBitmap* source, BRect destinationBounds, const PixelPlacement& placement);

#endif // PIXEL_REMAP_H
