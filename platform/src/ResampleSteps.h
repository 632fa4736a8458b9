// The fixed-point steps that every path of scaled drawing takes alike, so that the general
// resampler and its vector forms give the same pixels to the bit (all but the narrow steps of
// interpolation, for rows without transparency, which stay within one level): the constants of
// its arithmetic, and the AVX2 steps that more than one vector path takes.
#ifndef RESAMPLE_STEPS_H
#define RESAMPLE_STEPS_H

#include <immintrin.h>

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

// Widens eight pixels, four a 128-bit lane, into 16-bit lanes: pixels 0, 1 | 4, 5 into `low`,
// 2, 3 | 6, 7 into `high`. Premultiplied, colours are multiplied by alpha and alpha by
// 1 << kAlphaShift, as the general resampler widens them.
template <bool kPremultiplied>
__attribute__((target("avx2"))) inline void WidenLanes(__m256i bytes, __m256i& low, __m256i& high)
{
	__m256i zero = _mm256_setzero_si256();
	low = _mm256_unpacklo_epi8(bytes, zero);
	high = _mm256_unpackhi_epi8(bytes, zero);
	if (!kPremultiplied)
		return;
	// Each pixel's factors: its alpha for the three colours, 1 << kAlphaShift for alpha itself.
	const __m256i kAlphas =
	    _mm256_setr_epi8(3, 3, 3, -1, 7, 7, 7, -1, 11, 11, 11, -1, 15, 15, 15, -1, 3, 3, 3, -1, 7,
	                     7, 7, -1, 11, 11, 11, -1, 15, 15, 15, -1);
	const __m256i kAlphaFactor =
	    _mm256_setr_epi16(0, 0, 0, 1 << kAlphaShift, 0, 0, 0, 1 << kAlphaShift, 0, 0, 0,
	                      1 << kAlphaShift, 0, 0, 0, 1 << kAlphaShift);
	__m256i factors = _mm256_shuffle_epi8(bytes, kAlphas);
	__m256i lowFactors = _mm256_or_si256(_mm256_unpacklo_epi8(factors, zero), kAlphaFactor);
	__m256i highFactors = _mm256_or_si256(_mm256_unpackhi_epi8(factors, zero), kAlphaFactor);
	low = _mm256_mullo_epi16(low, lowFactors);
	high = _mm256_mullo_epi16(high, highFactors);
}

// True when all eight pixels of `pixels` have alpha 255: the vector paths leave out the division
// by alpha sums for opaque pixels, the usual case in photographs. ANDing loads first asks the
// same of all of them.
__attribute__((target("avx2"))) inline bool AllOpaque(__m256i pixels)
{
	__m256i opaque = _mm256_cmpeq_epi8(pixels, _mm256_set1_epi8(-1));
	uint32 mask = (uint32)_mm256_movemask_epi8(opaque);
	return (mask & 0x88888888u) == 0x88888888u;
}

} // namespace BPrivate

#endif // RESAMPLE_STEPS_H
