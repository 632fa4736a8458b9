// The rows of a bitmap as a PNG file stores them before deflating: in the file's byte order, each
// led by the filter, chosen row by row, that turns it into the smallest values.
#ifndef PNG_ROW_FILTER_H
#define PNG_ROW_FILTER_H

#include <cstdlib>
#include <vector>

#include <Bitmap.h>

#include "PngImageData.h"

// The filter types a row may have, in the order libpng tries them.
enum PngFilterType { kPngNone, kPngSub, kPngUp, kPngAverage, kPngPaeth, kPngFilterTypes };

// The Paeth filter's prediction of a byte from its neighbours, written without branches so that
// the compiler can work on many bytes at once.
inline uint8 PngPaethPredictor(int left, int above, int aboveLeft)
{
	int toLeft = std::abs(above - aboveLeft);
	int toAbove = std::abs(left - aboveLeft);
	int toAboveLeft = std::abs(left + above - 2 * aboveLeft);
	int closer = toAbove <= toAboveLeft ? above : aboveLeft;
	return (uint8)(((toLeft <= toAbove) & (toLeft <= toAboveLeft)) ? left : closer);
}

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
