#include "ColorMap.h"

static const int kCubeSteps = 6;
static const int kCubeSize = kCubeSteps * kCubeSteps * kCubeSteps;
static const int kCubeStep = 51;
static const int kGreysPerGap = 8;
static const int kGreyStep = 6;

rgb_color SystemColor(uint8 index)
{
	if (index == kTransparentIndex)
		return rgb_color{255, 255, 255, 0};
	if (index >= kCubeSize) {
		// The greys fill the gaps between the cube's own greys, eight to a gap, so that no
		// colour appears twice.
		int grey = index - kCubeSize;
		uint8 level =
		    (uint8)(grey / kGreysPerGap * kCubeStep + (grey % kGreysPerGap + 1) * kGreyStep);
		return rgb_color{level, level, level, 255};
	}
	return rgb_color{(uint8)(index / (kCubeSteps * kCubeSteps) * kCubeStep),
	                 (uint8)(index / kCubeSteps % kCubeSteps * kCubeStep),
	                 (uint8)(index % kCubeSteps * kCubeStep), 255};
}

bool FindSystemColor(uint8 red, uint8 green, uint8 blue, uint8& index)
{
	for (int candidate = 0; candidate < kTransparentIndex; candidate++) {
		rgb_color color = SystemColor((uint8)candidate);
		if (color.red == red && color.green == green && color.blue == blue) {
			index = (uint8)candidate;
			return true;
		}
	}
	return false;
}
