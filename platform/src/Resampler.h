// The pixel work behind BView::DrawBitmap(): scaling 32-bit pixels from one bitmap's memory into
// another's, separably, in integer arithmetic.
#ifndef RESAMPLER_H
#define RESAMPLER_H

#include <SupportDefs.h>

#include "AxisWeights.h"

namespace BPrivate {

// Rows of 32-bit pixels to read; pixel (x, y) starts at bits + y * bytesPerRow + x * 4.
struct SourceRows {
	const uint8* bits;
	size_t bytesPerRow;

	const uint8* Pixel(int32 x, int32 y) const
	{
		return bits + (size_t)y * bytesPerRow + (size_t)x * 4;
	}
};

// Rows of 32-bit pixels to write, laid out the same way.
struct DestinationRows {
	uint8* bits;
	size_t bytesPerRow;

	uint8* Pixel(int32 x, int32 y) const { return bits + (size_t)y * bytesPerRow + (size_t)x * 4; }
};

// Makes destination pixels columns.First() .. + Count() - 1 of rows rows.First() .. + Count() - 1
// from the source pixels the tables name. With `premultiplied` the fourth byte is alpha and the
// colours are weighted by it, so that transparent pixels lend no colour to their neighbours;
// without, all four bytes are weighted alike. Returns B_NO_MEMORY, having drawn nothing, when its
// working rows cannot be had.
status_t ResamplePixels(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                        const AxisWeights& rows, bool premultiplied);

} // namespace BPrivate

#endif // RESAMPLER_H
