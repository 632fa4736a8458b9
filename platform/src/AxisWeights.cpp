#include "AxisWeights.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace BPrivate {

namespace {

// Slack for the rounding of positions in double, so that an exact 2:1 step does not reach a
// third source pixel by a hair.
const double kSlack = 1e-9;

// The source pixels low .. high one destination pixel reads. Reducing, [from, to) is the source
// interval it covers; enlarging, from is its sample position.
struct Footprint {
	int64 low;
	int64 high;
	double from;
	double to;
};

// A source span stretched over a destination span along one axis, of which only source pixels
// readFirst .. readLast can be read.
struct Stretch {
	PixelSpan source;
	PixelSpan destination;
	int64 readFirst;
	int64 readLast;
	double scale;
	bool reducing;

	Stretch(PixelSpan source, int64 sourceLimit, PixelSpan destination)
	    : source(source), destination(destination), readFirst(std::max<int64>(source.first, 0)),
	      readLast(std::min<int64>(source.first + source.count - 1, sourceLimit - 1)),
	      scale((double)source.count / destination.count), reducing(scale >= 1)
	{
	}

	// Where the centre of destination pixel i falls in the source.
	double Centre(int64 i) const { return source.first + (i - destination.first + 0.5) * scale; }

	Footprint FootprintOf(int64 i) const
	{
		Footprint f;
		if (reducing) {
			double from = source.first + (i - destination.first) * scale;
			f.from = std::max(from, (double)readFirst);
			f.to = std::min(from + scale, (double)(readLast + 1));
			f.low = (int64)std::floor(f.from + kSlack);
			f.high = (int64)std::ceil(f.to - kSlack) - 1;
		} else {
			f.from = std::clamp(Centre(i) - 0.5, (double)readFirst, (double)readLast);
			f.low = (int64)std::floor(f.from);
			f.high = f.from - f.low > kSlack ? f.low + 1 : f.low;
		}
		f.high = std::max(f.high, f.low);
		return f;
	}

	// The share of source pixel s in footprint f: reducing, the part of the interval it covers;
	// enlarging, its nearness to the sample position.
	double Share(const Footprint& f, int64 s) const
	{
		if (reducing)
			return (std::min(f.to, s + 1.0) - std::max(f.from, (double)s)) / (f.to - f.from);
		return s == f.low ? 1 - (f.from - f.low) : f.from - f.low;
	}
};

// Leaves out of first .. last the destination pixels whose centre falls outside the readable
// source.
void TrimToReadable(const Stretch& stretch, int64& first, int64& last)
{
	while (first <= last && stretch.Centre(first) < stretch.readFirst)
		first++;
	while (first <= last && stretch.Centre(last) >= stretch.readLast + 1)
		last--;
}

// The most source pixels that any of destination pixels first .. last reads.
int64 CountTaps(const Stretch& stretch, int64 first, int64 last)
{
	int64 taps = 1;
	for (int64 i = first; i <= last; i++) {
		Footprint f = stretch.FootprintOf(i);
		taps = std::max(taps, f.high - f.low + 1);
	}
	return taps;
}

// Writes the fixed-point weights of the source pixels in `f` to `weights`, whose first tap is
// source pixel `start`, leaving the other taps as they are.
void WeighFootprint(const Stretch& stretch, const Footprint& f, int64 start, int16* weights)
{
	int32 sum = 0;
	int32 largest = (int32)(f.low - start);
	for (int64 s = f.low; s <= f.high; s++) {
		double share = stretch.Share(f, s);
		int16 fixed = (int16)std::lround(std::max(share, 0.0) * AxisWeights::kWeightOne);
		weights[s - start] = fixed;
		sum += fixed;
		if (fixed > weights[largest])
			largest = (int32)(s - start);
	}
	// Rounding may leave the sum a little off one: the largest weight absorbs the rest.
	weights[largest] += (int16)(AxisWeights::kWeightOne - sum);
}

} // namespace

status_t AxisWeights::Compute(PixelSpan source, int64 sourceLimit, PixelSpan destination,
                              PixelSpan clip)
{
	if (source.count < 1 || destination.count < 1)
		return B_BAD_VALUE;
	Stretch stretch(source, sourceLimit, destination);
	int64 first = std::max(destination.first, clip.first);
	int64 last = std::min(destination.first + destination.count - 1, clip.first + clip.count - 1);
	if (stretch.readFirst > stretch.readLast || first > last)
		return B_BAD_VALUE;
	TrimToReadable(stretch, first, last);
	if (first > last)
		return B_BAD_VALUE;

	int64 taps = CountTaps(stretch, first, last);
	fFirst = (int32)first;
	fCount = (int32)(last - first + 1);
	fTaps = (int32)taps;
	fStarts.reset(new (std::nothrow) int32[fCount]);
	fWeights.reset(new (std::nothrow) int16[(size_t)fCount * fTaps]());
	if (fStarts == NULL || fWeights == NULL)
		return B_NO_MEMORY;

	for (int32 i = 0; i < fCount; i++) {
		Footprint f = stretch.FootprintOf(first + i);
		// Taps past the readable end would read outside it: such a pixel starts earlier and
		// leaves its first taps at weight 0.
		int64 start = std::min(f.low, stretch.readLast - taps + 1);
		fStarts[i] = (int32)start;
		WeighFootprint(stretch, f, start, fWeights.get() + (size_t)i * fTaps);
	}
	fHalving = _Halves();
	return B_OK;
}

bool AxisWeights::_Halves() const
{
	if (fTaps != 2)
		return false;
	for (int32 i = 0; i < fCount; i++) {
		if (fStarts[i] != fStarts[0] + 2 * i || fWeights[2 * i] != kWeightOne / 2 ||
		    fWeights[2 * i + 1] != kWeightOne / 2)
			return false;
	}
	return true;
}

} // namespace BPrivate
