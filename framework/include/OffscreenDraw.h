// The one drawing sequence of the scaling filters: the whole source drawn, scaled, through an
// offscreen view into a new bitmap.
#ifndef OFFSCREEN_DRAW_H
#define OFFSCREEN_DRAW_H

#include <Bitmap.h>
#include <Rect.h>

// Creates a bitmap over `bounds` in the source's colour space and draws the whole source into
// all of it through a view named "drawer". The caller owns the returned bitmap and releases it
// with delete. Returns NULL, with nothing left allocated, when the bitmap or the view cannot be
// made, the bitmap cannot be locked, or the kit cannot draw the source: never a blank image.
BBitmap* DrawScaledCopy(const BBitmap* source, BRect bounds);

#endif // OFFSCREEN_DRAW_H
