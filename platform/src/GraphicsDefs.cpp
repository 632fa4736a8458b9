#include <GraphicsDefs.h>

int32 bits_per_pixel(color_space space)
{
	switch (space) {
	case B_RGB32:
	case B_RGBA32:
	case B_RGB32_BIG:
	case B_RGBA32_BIG:
		return 32;
	case B_RGB24:
	case B_RGB24_BIG:
		return 24;
	case B_RGB16:
	case B_RGB15:
	case B_RGBA15:
	case B_RGB16_BIG:
	case B_RGB15_BIG:
	case B_RGBA15_BIG:
		return 16;
	case B_CMAP8:
	case B_GRAY8:
		return 8;
	case B_GRAY1:
		return 1;
	case B_NO_COLOR_SPACE:
		break;
	}
	return 0;
}
