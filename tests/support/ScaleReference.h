// A straightforward model of scaled drawing in double precision, for tests to hold the kit's
// drawing against: each destination pixel averages the source area it covers when reducing, or
// interpolates between the two nearest source pixel centres when enlarging, with B_RGBA32
// colours weighted by alpha.
#ifndef SCALE_REFERENCE_H
#define SCALE_REFERENCE_H

#include <vector>

#include <Bitmap.h>

// A rectangle of whole pixels inside a bitmap, counted from its first pixel.
struct PixelRect {
	int32 x;
	int32 y;
	int32 width;
	int32 height;
};

// The words of a width x height image that the `from` part of `source` scaled to fill.
std::vector<uint32> ReferenceScale(const BBitmap& source, PixelRect from, int32 width,
                                   int32 height);

// The words of a whole source scaled to a width x height image.
std::vector<uint32> ReferenceScale(const BBitmap& source, int32 width, int32 height);

// The largest difference between two bytes at the same place in two lists of words.
int32 LargestByteDifference(const std::vector<uint32>& one, const std::vector<uint32>& other);

#endif // SCALE_REFERENCE_H
