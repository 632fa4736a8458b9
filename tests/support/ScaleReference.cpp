#include "ScaleReference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "TestSupport.h"

namespace {

typedef std::vector<std::pair<int32, double>> Taps;

// The source pixels along one axis that destination pixel j of `size` reads, with weights, when
// `count` source pixels from `first` fill `size` destination pixels.
Taps AxisTaps(int32 first, int32 count, int32 size, int32 j)
{
	double scale = (double)count / size;
	Taps taps;
	if (scale >= 1) {
		double from = first + j * scale;
		double to = from + scale;
		for (int32 i = (int32)std::floor(from); i < to; i++) {
			// Slivers from the rounding of `to` lie past the rectangle.
			double covered = std::min(to, i + 1.0) - std::max(from, (double)i);
			if (covered > 1e-9)
				taps.push_back({i, covered / scale});
		}
		return taps;
	}
	double centre =
	    std::clamp(first + (j + 0.5) * scale - 0.5, (double)first, (double)(first + count - 1));
	int32 low = (int32)std::floor(centre);
	double t = centre - low;
	taps.push_back({low, 1 - t});
	if (t > 0)
		taps.push_back({low + 1, t});
	return taps;
}

uint32 Round(double value)
{
	return (uint32)std::floor(value + 0.5);
}

} // namespace

std::vector<uint32> ReferenceScale(const BBitmap& source, PixelRect from, int32 width, int32 height)
{
	bool premultiplied = source.ColorSpace() == B_RGBA32;
	std::vector<uint32> words;
	for (int32 y = 0; y < height; y++) {
		Taps rows = AxisTaps(from.y, from.height, height, y);
		for (int32 x = 0; x < width; x++) {
			Taps columns = AxisTaps(from.x, from.width, width, x);
			double sums[4] = {};
			for (const auto& [row, rowWeight] : rows) {
				for (const auto& [column, columnWeight] : columns) {
					uint32 word = WordAt(source, column, row);
					double alpha = word >> 24;
					double weight = rowWeight * columnWeight;
					for (int32 channel = 0; channel < 3; channel++) {
						double value = (word >> (8 * channel)) & 0xff;
						sums[channel] += weight * value * (premultiplied ? alpha : 1);
					}
					sums[3] += weight * alpha;
				}
			}
			uint32 word = Round(sums[3]) << 24;
			for (int32 channel = 0; channel < 3; channel++) {
				double value = sums[channel];
				if (premultiplied)
					value = sums[3] > 0 ? value / sums[3] : 0;
				word |= Round(value) << (8 * channel);
			}
			words.push_back(word);
		}
	}
	return words;
}

std::vector<uint32> ReferenceScale(const BBitmap& source, int32 width, int32 height)
{
	BRect bounds = source.Bounds();
	PixelRect all = {0, 0, bounds.IntegerWidth() + 1, bounds.IntegerHeight() + 1};
	return ReferenceScale(source, all, width, height);
}

int32 LargestByteDifference(const std::vector<uint32>& one, const std::vector<uint32>& other)
{
	int32 largest = 0;
	for (size_t i = 0; i < std::min(one.size(), other.size()); i++) {
		for (int32 shift = 0; shift < 32; shift += 8) {
			int32 a = (one[i] >> shift) & 0xff;
			int32 b = (other[i] >> shift) & 0xff;
			largest = std::max(largest, std::abs(a - b));
		}
	}
	return largest;
}
