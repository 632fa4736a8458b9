// ChannelLift ("Brighten"): raises one reference channel of every pixel by a fixed step and
// rescales the other two by their ratios to the reference level.
#include <cstdio>
#include <cstring>
#include <new>

#include <AccessorDomain.h>
#include <BitmapDrawer.h>
#include <ImageFilter.h>

#include "LiftState.h"

namespace {

enum LiftOutcome { kLifted, kLevelUnset, kLevelZero };

// See LiftState.h for the rounding.
inline uint8 Rescaled(uint32 level, double ratio)
{
	uint32 value = static_cast<uint32>(level * ratio);
	return value > 255 ? 255 : value;
}

// Lifts one pixel, going on from and updating `state`. A pixel without green keeps the previous
// reference channel unless its blue is below the level, so that channel may be 0 here.
LiftOutcome LiftPixel(LiftState& state, rgb_color& c)
{
	if (c.red != 0 && c.red < c.green) {
		state.level = c.red;
		state.channel = kRedChannel;
	} else if (c.green != 0) {
		state.level = c.green;
		state.channel = kGreenChannel;
	}
	if (c.blue != 0 && c.blue < state.level) {
		state.level = c.blue;
		state.channel = kBlueChannel;
	}
	if (state.level > 255)
		return kLevelUnset;
	if (state.level == 0)
		return kLevelZero;

	// The chosen channel is raised, wrapping in its 8 bits, and its new value is the new level.
	double level = state.level;
	double ratioRed = 1.0;
	double ratioGreen = 1.0;
	double ratioBlue = 1.0;
	if (state.channel == kRedChannel) {
		ratioGreen = c.green / level;
		ratioBlue = c.blue / level;
		c.red = static_cast<uint8>(c.red + kStep);
		state.level = c.red;
	} else if (state.channel == kGreenChannel) {
		ratioRed = c.red / level;
		ratioBlue = c.blue / level;
		c.green = static_cast<uint8>(c.green + kStep);
		state.level = c.green;
	} else {
		ratioRed = c.red / level;
		ratioGreen = c.green / level;
		c.blue = static_cast<uint8>(c.blue + kStep);
		state.level = c.blue;
	}
	c.red = Rescaled(state.level, ratioRed);
	c.green = Rescaled(state.level, ratioGreen);
	c.blue = Rescaled(state.level, ratioBlue);
	return kLifted;
}

} // namespace

class ChannelLift : public ImageFilter {
public:
	ChannelLift();
	virtual ~ChannelLift();
	virtual BBitmap* Run(BBitmap* source);
};

ChannelLift::ChannelLift()
{
	id = 1;
	strcpy(name, "Brighten");
}

ChannelLift::~ChannelLift()
{
}

BBitmap* ChannelLift::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// Every pixel is written below, the ones a row abandons as zero, as a new bitmap holds
	// them: the memory need not be cleared first.
	BRect bounds = source->Bounds();
	BBitmap* destination =
	    CreateAccessorDestination(source, BRect(0, 0, bounds.right, bounds.bottom), true);
	if (destination == NULL)
		return NULL;

	BitmapDrawer from(source);
	BitmapDrawer to(destination);
	int32 width = bounds.IntegerWidth();
	int32 height = bounds.IntegerHeight();
	LiftState state = {kNoLevel, kGreenChannel};
	for (int32 y = 0; y <= height; y++) {
		int32 x = 0;
		while (x <= width) {
			x += LiftWhileGreen(from.bits + y * from.rowLength + x, to.bits + y * to.rowLength + x,
			                    width + 1 - x, state);
			if (x > width)
				break;
			rgb_color c;
			from.GetPixel(x, y, &c);
			LiftOutcome outcome = LiftPixel(state, c);
			if (outcome == kLevelUnset) {
				// Nothing has set a level yet: the rest of this row keeps what a new bitmap holds.
				memset(to.bits + y * to.rowLength + x, 0, (size_t)(width + 1 - x) * 4);
				printf("Hmm\n");
				break;
			}
			if (outcome == kLevelZero) {
				printf("ouch\n");
				delete destination;
				return NULL;
			}
			to.SetPixel(x, y, c);
			x++;
		}
	}
	return destination;
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) ChannelLift;
}
