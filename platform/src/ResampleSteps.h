// The fixed-point steps that every path of scaled drawing takes alike, so that the general
// resampler and its vector forms give the same pixels to the bit.
#ifndef RESAMPLE_STEPS_H
#define RESAMPLE_STEPS_H

#include <SupportDefs.h>

#include "AxisWeights.h"

namespace BPrivate {

// Each pass multiplies by weights of kWeightBits fraction bits. After the first pass (along rows
// or along columns) the sums drop one bit less than that, so that an exact 2:1 step (two weights
// of one half) keeps its sum whole; the final step drops the rest, rounding once, which makes a
// 2:1 reduction the exact rounded mean of each 2 x 2 block.
const int32 kFirstPassShift = AxisWeights::kWeightBits - 1;
const int32 kFinalShift = AxisWeights::kWeightBits + 1;
const uint32 kFinalHalf = 1u << (kFinalShift - 1);

// Premultiplied, alpha is widened by this many bits, so that the alpha sums that colour sums are
// divided by carry as many bits as the colour sums do, even for pixels almost transparent.
const int32 kAlphaShift = 8;
const int32 kAlphaFinalShift = kFinalShift + kAlphaShift;
const float kAlphaScale = 1 << kAlphaShift;

// Four channel sums a pixel, in memory order: blue, green, red, alpha.
const int32 kLanes = 4;

// Premultiplied sums turn back into colours in float. A quotient that is exactly k + 1/2 must
// round up however the float steps erred: this bias lies above their error (under 1e-4 at 255)
// and below the smallest distance from a half that an exact 2:1 reduction can give (1/2040).
const float kRoundingBias = 0.5f + 1.0f / 4096;

// What colour sums are multiplied by where every pixel read is opaque: the inverse of 255 at the
// full weight of both passes.
const float kOpaqueScale = 1.0f / (255.0f * (1 << kFinalShift));

} // namespace BPrivate

#endif // RESAMPLE_STEPS_H
