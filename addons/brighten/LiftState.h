// The working state the brighten filter carries from pixel to pixel, and its vector path.
#ifndef LIFT_STATE_H
#define LIFT_STATE_H

#include <SupportDefs.h>

// Added to the reference channel. The sum wraps modulo 256 (246 becomes 0): a deliberate quirk
// that callers know, unlike the two rescaled channels, which are clamped at 255.
const uint32 kStep = 10;

// The level before any pixel has chosen a reference channel: above every channel value.
const uint32 kNoLevel = 256;

// A colour channel, named by the position of its byte in a pixel word.
enum LiftChannel { kBlueChannel = 0, kGreenChannel = 8, kRedChannel = 16 };

// Set once per Run and carried from pixel to pixel and row to row: a pixel whose own channels
// choose no reference channel keeps the level and channel that the previous pixel left. The
// channel means nothing while the level is kNoLevel.
struct LiftState {
	uint32 level;
	LiftChannel channel;
};

// Rescaled channels are new level x (channel / old level): the quotient and the product are each
// rounded to double, then truncated toward zero and clamped at 255. A product that falls short of
// a whole number by less than half a unit in its last place so counts as that number: 15 x
// (6 / 5) gives 18, where the exact product of 15 and the double nearest 1.2 would give 17.

// Lifts pixel words from `source` into `destination` in blocks of a few pixels, as long as every
// pixel of a block has green, and at most `count`; returns how many it lifted and leaves `state`
// as the last of them leaves it.
int32 LiftWhileGreen(const uint32* source, uint32* destination, int32 count, LiftState& state);

#endif // LIFT_STATE_H
