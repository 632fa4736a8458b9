#include "PngRowFilter.h"

#include <cstdlib>
#include <cstring>

namespace {

// libpng's measure of a filtered row: the sum of its bytes read as signed numbers, whose small
// values deflate best.
size_t Cost(const uint8* bytes, size_t count)
{
	size_t sum = 0;
	for (size_t i = 0; i < count; i++)
		sum += (size_t)std::abs((int)(int8)bytes[i]);
	return sum;
}

// Fills `trials` with `row` filtered by each filter but none, `stride` bytes apart, the filter
// type's byte first. The first pixel has zeros to its left and above left.
void FilterRow(const uint8* __restrict row, const uint8* __restrict above, size_t count,
               size_t channels, size_t stride, uint8* __restrict trials)
{
	uint8* sub = trials + kPngSub * stride + 1;
	uint8* up = trials + kPngUp * stride + 1;
	uint8* average = trials + kPngAverage * stride + 1;
	uint8* paeth = trials + kPngPaeth * stride + 1;
	size_t first = channels < count ? channels : count;
	for (size_t i = 0; i < first; i++) {
		sub[i] = row[i];
		average[i] = (uint8)(row[i] - (above[i] >> 1));
	}
	for (size_t i = first; i < count; i++)
		sub[i] = (uint8)(row[i] - row[i - channels]);
	for (size_t i = 0; i < count; i++)
		up[i] = (uint8)(row[i] - above[i]);
	for (size_t i = first; i < count; i++)
		average[i] = (uint8)(row[i] - ((row[i - channels] + above[i]) >> 1));
	// Paeth's predictor for the first pixel is the byte above, as for Up.
	memcpy(paeth, up, first);
	for (size_t i = first; i < count; i++)
		paeth[i] =
		    (uint8)(row[i] - PngPaethPredictor(row[i - channels], above[i], above[i - channels]));
}

} // namespace

PngRowFilter::PngRowFilter(const BBitmap& bitmap, PngPixels pixels)
    : fBitmap(bitmap), fPixels(pixels), fRowY(-1)
{
	switch (pixels) {
	case PngPixels::kGrey:
		fChannels = 1;
		break;
	case PngPixels::kGreyAlpha:
		fChannels = 2;
		break;
	case PngPixels::kRgb:
		fChannels = 3;
		break;
	case PngPixels::kRgba:
		fChannels = 4;
		break;
	}
	fRowBytes = (size_t)(bitmap.Bounds().IntegerWidth() + 1) * fChannels;
	fRow.resize(fRowBytes);
	fAbove.resize(fRowBytes);
	fTrials.resize(kPngFilterTypes * (fRowBytes + 1));
}

void PngRowFilter::Filter(int32 y, uint8* out)
{
	if (y > 0 && fRowY == y - 1)
		fRow.swap(fAbove);
	else if (y > 0)
		_Convert(y - 1, fAbove.data());
	else
		memset(fAbove.data(), 0, fRowBytes);
	_Convert(y, fRow.data());
	fRowY = y;

	size_t stride = fRowBytes + 1;
	const uint8* row = fRow.data();
	FilterRow(row, fAbove.data(), fRowBytes, fChannels, stride, fTrials.data());
	// On a tie the earlier filter type is kept, as libpng keeps it.
	int best = kPngNone;
	size_t bestCost = Cost(row, fRowBytes);
	for (int type = kPngSub; type < kPngFilterTypes; type++) {
		size_t cost = Cost(&fTrials[type * stride + 1], fRowBytes);
		if (cost < bestCost) {
			best = type;
			bestCost = cost;
		}
	}
	out[0] = (uint8)best;
	memcpy(out + 1, best == kPngNone ? row : &fTrials[best * stride + 1], fRowBytes);
}

// The bitmap holds blue, green, red, alpha; the file red, green, blue, alpha.
void PngRowFilter::_Convert(int32 y, uint8* out) const
{
	const uint8* in = static_cast<const uint8*>(fBitmap.Bits()) + (size_t)y * fBitmap.BytesPerRow();
	size_t width = fRowBytes / fChannels;
	switch (fPixels) {
	case PngPixels::kGrey:
		for (size_t x = 0; x < width; x++)
			out[x] = in[x * 4];
		break;
	case PngPixels::kGreyAlpha:
		for (size_t x = 0; x < width; x++) {
			out[x * 2] = in[x * 4];
			out[x * 2 + 1] = in[x * 4 + 3];
		}
		break;
	case PngPixels::kRgb:
		for (size_t x = 0; x < width; x++) {
			out[x * 3] = in[x * 4 + 2];
			out[x * 3 + 1] = in[x * 4 + 1];
			out[x * 3 + 2] = in[x * 4];
		}
		break;
	case PngPixels::kRgba:
		for (size_t x = 0; x < width; x++) {
			out[x * 4] = in[x * 4 + 2];
			out[x * 4 + 1] = in[x * 4 + 1];
			out[x * 4 + 2] = in[x * 4];
			out[x * 4 + 3] = in[x * 4 + 3];
		}
		break;
	}
}
