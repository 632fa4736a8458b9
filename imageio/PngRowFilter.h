// The rows of a bitmap as a PNG file stores them before deflating: in the file's byte order, each
// led by the filter, chosen row by row, that turns it into the smallest values.
#ifndef PNG_ROW_FILTER_H
#define PNG_ROW_FILTER_H

#include <vector>

#include <Bitmap.h>

#include "PngImageData.h"

class PngRowFilter {
public:
	PngRowFilter(const BBitmap& bitmap, PngPixels pixels);

	// The bytes a filtered row takes: the filter type and the filtered pixels.
	size_t FilteredRowBytes() const { return fRowBytes + 1; }

	// Writes row `y` filtered to `out`, FilteredRowBytes() long. Rows go faster in order, each
	// following the last: the row above is then already in the file's byte order.
	void Filter(int32 y, uint8* out);

private:
	void _Convert(int32 y, uint8* out) const;

	const BBitmap& fBitmap;
	PngPixels fPixels;
	size_t fChannels;
	size_t fRowBytes;
	// Rows in the file's byte order: the last one filtered and the one above it.
	std::vector<uint8> fRow;
	std::vector<uint8> fAbove;
	int32 fRowY;
	// One filtered row for each filter type.
	std::vector<uint8> fTrials;
};

#endif // PNG_ROW_FILTER_H
