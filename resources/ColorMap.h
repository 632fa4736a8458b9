// The system colour map that 8-bit icons index: a 6 x 6 x 6 colour cube (red slowest, each
// channel in steps of 51), then 39 greys from dark to light that the cube lacks, then the
// transparent index. Every colour appears once.
#ifndef COLOR_MAP_H
#define COLOR_MAP_H

#include <GraphicsDefs.h>

// The index of a transparent pixel in 8-bit icons.
const uint8 kTransparentIndex = 255;

// The colour at `index`; the transparent index gives white with alpha 0.
rgb_color SystemColor(uint8 index);

// Finds the index whose colour is exactly `red`, `green`, `blue`; false when there is none.
bool FindSystemColor(uint8 red, uint8 green, uint8 blue, uint8& index);

#endif // COLOR_MAP_H
