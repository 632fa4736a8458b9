#include <OverwriteBitmap.h>

#include <new>

#include "PixelMemory.h"

namespace BPrivate {

BBitmap* NewBitmapToOverwrite(BRect bounds, color_space space, bool acceptsViews)
{
	return new (std::nothrow) BBitmap(bounds, space, acceptsViews, BBitmap::Uncleared());
}

void SetOverwriteFill(int value)
{
	SetUnclearedFill(value);
}

} // namespace BPrivate
