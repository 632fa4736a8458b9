// What the pixel-accessor filters can serve, checked in one place for all of them.
#ifndef ACCESSOR_DOMAIN_H
#define ACCESSOR_DOMAIN_H

#include <Bitmap.h>
#include <Rect.h>

// True when `source` can be addressed through BitmapDrawer from (0, 0) to (IntegerWidth(),
// IntegerHeight()): a valid B_RGB32 or B_RGBA32 bitmap with pixel memory whose bounds start at
// (0, 0).
bool IsAccessorSource(const BBitmap* source);

// Creates the destination of an accessor-based filter over `bounds`, in the source's colour
// space and without views. Returns NULL, with nothing left allocated, when the source fails
// IsAccessorSource() or the destination or its pixel memory cannot be had; a filter that gets
// NULL here returns NULL itself, so no bad source ever reaches a pixel loop.
// Its pixels are zero, unless the filter says it writes every one of them: then they are not
// cleared first, and hold whatever the memory held.
BBitmap* CreateAccessorDestination(const BBitmap* source, BRect bounds,
                                   bool writesEveryPixel = false);

#endif // ACCESSOR_DOMAIN_H
