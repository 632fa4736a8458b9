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

} // namespace

status_t AxisWeights::Compute(PixelSpan source, int64 sourceLimit, PixelSpan destination,
                              PixelSpan clip)
{
	if (source.count < 1 || destination.count < 1)
		return B_BAD_VALUE;
	int64 readFirst = std::max<int64>(source.first, 0);
	int64 readLast = std::min<int64>(source.first + source.count - 1, sourceLimit - 1);
	int64 first = std::max(destination.first, clip.first);
	int64 last = std::min(destination.first + destination.count - 1, clip.first + clip.count - 1);
	if (readFirst > readLast || first > last)
		return B_BAD_VALUE;

	double scale = (double)source.count / destination.count;
	bool reducing = scale >= 1;
	auto centre = [&](int64 i) { return source.first + (i - destination.first + 0.5) * scale; };
	while (first <= last && centre(first) < readFirst)
		first++;
	while (first <= last && centre(last) >= readLast + 1)
		last--;
	if (first > last)
		return B_BAD_VALUE;

	auto footprint = [&](int64 i) {
		Footprint f;
		if (reducing) {
			double from = source.first + (i - destination.first) * scale;
			f.from = std::max(from, (double)readFirst);
			f.to = std::min(from + scale, (double)(readLast + 1));
			f.low = (int64)std::floor(f.from + kSlack);
			f.high = (int64)std::ceil(f.to - kSlack) - 1;
		} else {
			f.from = std::clamp(centre(i) - 0.5, (double)readFirst, (double)readLast);
			f.low = (int64)std::floor(f.from);
			f.high = f.from - f.low > kSlack ? f.low + 1 : f.low;
		}
		f.high = std::max(f.high, f.low);
		return f;
	};

	int64 taps = 1;
	for (int64 i = first; i <= last; i++) {
		Footprint f = footprint(i);
		taps = std::max(taps, f.high - f.low + 1);
	}

	fFirst = (int32)first;
	fCount = (int32)(last - first + 1);
	fTaps = (int32)taps;
	fStarts.reset(new (std::nothrow) int32[fCount]);
	fWeights.reset(new (std::nothrow) int16[(size_t)fCount * fTaps]());
	if (fStarts == NULL || fWeights == NULL)
		return B_NO_MEMORY;

	for (int32 i = 0; i < fCount; i++) {
		Footprint f = footprint(first + i);
		// Taps past the readable end would read outside it: such a pixel starts earlier and
		// leaves its first taps at weight 0.
		int64 start = std::min(f.low, readLast - taps + 1);
		fStarts[i] = (int32)start;
		int16* weights = fWeights.get() + (size_t)i * fTaps;

		int32 sum = 0;
		int32 largest = (int32)(f.low - start);
		for (int64 s = f.low; s <= f.high; s++) {
			double weight;
			if (reducing)
				weight = (std::min(f.to, s + 1.0) - std::max(f.from, (double)s)) / (f.to - f.from);
			else
				weight = s == f.low ? 1 - (f.from - f.low) : f.from - f.low;
			int16 fixed = (int16)std::lround(std::max(weight, 0.0) * kWeightOne);
			weights[s - start] = fixed;
			sum += fixed;
			if (fixed > weights[largest])
				largest = (int32)(s - start);
		}
		// Rounding may leave the sum a little off one: the largest weight absorbs the rest.
		weights[largest] += (int16)(kWeightOne - sum);
	}

	fHalving = fTaps == 2;
	for (int32 i = 0; i < fCount && fHalving; i++) {
		fHalving = fStarts[i] == fStarts[0] + 2 * i && fWeights[2 * i] == kWeightOne / 2 &&
		           fWeights[2 * i + 1] == kWeightOne / 2;
	}
	return B_OK;
}

} // namespace BPrivate
