// Colours and colour-space codes of the imaging kit, with the platform's own numeric values.
#ifndef _GRAPHICS_DEFS_H
#define _GRAPHICS_DEFS_H

#include <SupportDefs.h>

struct rgb_color {
	uint8 red;
	uint8 green;
	uint8 blue;
	uint8 alpha;
};

enum color_space {
	B_NO_COLOR_SPACE = 0x0000,

	// 32 bits a pixel; in memory blue, green, red, alpha (or an unused fourth byte).
	B_RGB32 = 0x0008,
	B_RGBA32 = 0x2008,
	B_RGB24 = 0x0003,
	B_RGB16 = 0x0005,
	B_RGB15 = 0x0010,
	B_RGBA15 = 0x2010,
	B_CMAP8 = 0x0004,
	B_GRAY8 = 0x0002,
	B_GRAY1 = 0x0001,

	// Big-endian variants.
	B_RGB32_BIG = 0x1008,
	B_RGBA32_BIG = 0x3008,
	B_RGB24_BIG = 0x1003,
	B_RGB16_BIG = 0x1005,
	B_RGB15_BIG = 0x1010,
	B_RGBA15_BIG = 0x3010
};

// Bits one pixel takes in the given colour space, or 0 when the kit does not know the space.
int32 bits_per_pixel(color_space space);

#endif // _GRAPHICS_DEFS_H
