// The common case of scaled drawing done at memory speed: an exact 2:1 reduction along both axes,
// each destination pixel the rounded mean of a 2 x 2 block.
#ifndef HALVING_H
#define HALVING_H

#include "AxisWeights.h"
#include "Resampler.h"

namespace BPrivate {

// Draws as ResamplePixels() does, with the same result to the bit, when both tables halve and
// the processor has AVX2. Returns false, having drawn nothing, otherwise.
bool HalvePixels(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                 const AxisWeights& rows, bool premultiplied);

} // namespace BPrivate

#endif // HALVING_H
