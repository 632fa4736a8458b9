// Bitmaps for code that writes every byte of a new bitmap's pixels before anything reads one,
// such as a filter that moves or computes every pixel of its result. Their pixel memory is not
// cleared first, which saves a pass over memory as large as the image. An extension of this kit
// for its own filters, not part of the platform's interface.
#ifndef _OVERWRITE_BITMAP_H
#define _OVERWRITE_BITMAP_H

#include <Bitmap.h>

namespace BPrivate {

// Like `new (std::nothrow) BBitmap(bounds, space, acceptsViews)`, with the same checks and
// InitCheck(), except that the pixels hold whatever the memory held before: recycled memory keeps
// an earlier bitmap's bytes. NULL only when the object itself cannot be had.
BBitmap* NewBitmapToOverwrite(BRect bounds, color_space space, bool acceptsViews = false);

// For tests of such writers: from now on the pixel memory of every bitmap made above is filled
// with `value` (0 to 255) first, so that two runs with different values show any byte left
// unwritten. -1 goes back to leaving the memory as it is.
void SetOverwriteFill(int value);

} // namespace BPrivate

#endif // _OVERWRITE_BITMAP_H
