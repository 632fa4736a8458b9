// The row steps of drawing that interpolates between two source pixels along both axes, done
// eight pixels at a time with AVX2: widening a source row, weighing it along the row, and
// blending two weighed rows into a destination row. Same results, to the bit, as the general
// resampler's steps.
#ifndef INTERPOLATING_ROWS_H
#define INTERPOLATING_ROWS_H

#include <SupportDefs.h>

#include "AxisWeights.h"

namespace BPrivate {

// Whether the processor runs the steps below.
bool CanInterpolateRows();

// Copies `count` pixels of a row into 16-bit lanes, four a pixel, and returns whether all of
// them are opaque. Premultiplied, the colour lanes hold colour times alpha and alpha is shifted
// up by kAlphaShift.
bool WidenPixels(const uint8* row, int32 count, bool premultiplied, uint16* out);

// Weighs a row of 16-bit lanes (four a pixel, from the table's first column on) by a table of
// two taps, into 32-bit lanes that drop kFirstPassShift bits, rounding.
void WeighRowPairs(const uint16* lanes, const AxisWeights& columns, uint32* out);

// Makes `count` destination pixels from two weighed rows, each lane first * firstWeight +
// second * secondWeight, finished as premultiplied (colours over alpha, or over a full alpha
// where every pixel read is `opaque`) or plain lanes.
void BlendRows(const uint32* first, uint32 firstWeight, const uint32* second, uint32 secondWeight,
               int32 count, bool premultiplied, bool opaque, uint8* out);

} // namespace BPrivate

#endif // INTERPOLATING_ROWS_H
