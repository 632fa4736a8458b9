// How a scaled drawing makes the pixels along one axis: which source pixels feed each
// destination pixel, and with what weight. Worked out once per draw, used for every row.
#ifndef AXIS_WEIGHTS_H
#define AXIS_WEIGHTS_H

#include <memory>

#include <SupportDefs.h>

namespace BPrivate {

// A run of pixel indices along one axis: first, first + 1, ..., first + count - 1.
struct PixelSpan {
	int64 first;
	int64 count;
};

class AxisWeights {
public:
	// Weights are fixed-point numbers with this many fraction bits; each pixel's sum to one.
	static const int32 kWeightBits = 12;
	static const int32 kWeightOne = 1 << kWeightBits;

	// Maps `source` onto `destination`: the extent of each span is stretched over the other's,
	// so pixel centres correspond. Reducing, each destination pixel averages the source area it
	// covers; enlarging, it interpolates linearly between the two nearest source pixel centres.
	// Only source pixels in [0, sourceLimit) are read and only destination pixels in `clip` are
	// made: destination pixels whose centre falls outside the readable source are left out, and
	// edge pixels take their weights from the readable part alone.
	// Returns B_BAD_VALUE when no destination pixel remains, B_NO_MEMORY when the tables cannot
	// be had.
	status_t Compute(PixelSpan source, int64 sourceLimit, PixelSpan destination, PixelSpan clip);

	// The destination pixels made: First() .. First() + Count() - 1.
	int32 First() const { return fFirst; }
	int32 Count() const { return fCount; }

	// Every destination pixel reads Taps() consecutive source pixels from Start(i), i counted
	// from First(); unused taps have weight 0.
	int32 Taps() const { return fTaps; }
	int32 Start(int32 i) const { return fStarts[i]; }
	const int32* Starts() const { return fStarts.get(); }
	const int16* Weights(int32 i) const { return fWeights.get() + (size_t)i * fTaps; }

	// True when every destination pixel is the mean of two source pixels, each pair following
	// the last: an exact 2:1 reduction.
	bool IsHalving() const { return fHalving; }

private:
	// Whether the tables just computed make an exact 2:1 reduction.
	bool _Halves() const;

	int32 fFirst = 0;
	int32 fCount = 0;
	int32 fTaps = 0;
	bool fHalving = false;
	std::unique_ptr<int32[]> fStarts;
	std::unique_ptr<int16[]> fWeights;
};

} // namespace BPrivate

#endif // AXIS_WEIGHTS_H
