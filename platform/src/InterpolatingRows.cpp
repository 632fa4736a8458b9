#include "InterpolatingRows.h"

#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "ResampleSteps.h"

namespace BPrivate {

namespace {

// Destination pixels one vector step makes.
const int32 kStepPixels = 8;

// Widens eight pixels, two a 128-bit lane apart in `bytes` order, into 16-bit lanes in memory
// order.
template <bool kPremultiplied>
__attribute__((target("avx2"))) inline void WidenStep(__m256i bytes, uint16* out)
{
	__m256i low, high;
	WidenLanes<kPremultiplied>(bytes, low, high);
	_mm256_storeu_si256((__m256i*)out, _mm256_permute2x128_si256(low, high, 0x20));
	_mm256_storeu_si256((__m256i*)(out + 16), _mm256_permute2x128_si256(low, high, 0x31));
}

template <bool kPremultiplied>
__attribute__((target("avx2"))) bool WidenRowIn(const uint8* row, int32 count, uint16* out)
{
	// Every byte of the row is ANDed together; the row is opaque where the alpha bytes stay
	// all ones.
	__m256i all = _mm256_set1_epi8(-1);
	int32 i = 0;
	for (; i + kStepPixels <= count; i += kStepPixels) {
		__m256i bytes = _mm256_loadu_si256((const __m256i*)(row + (size_t)i * 4));
		all = _mm256_and_si256(all, bytes);
		WidenStep<kPremultiplied>(bytes, out + (size_t)i * kLanes);
	}
	if (i < count) {
		// The last few pixels from a copy padded with opaque ones.
		size_t bytes = (size_t)(count - i) * 4;
		uint8 padded[kStepPixels * 4];
		memset(padded, 0xff, sizeof(padded));
		memcpy(padded, row + (size_t)i * 4, bytes);
		uint16 lanes[kStepPixels * kLanes];
		__m256i rest = _mm256_loadu_si256((const __m256i*)padded);
		all = _mm256_and_si256(all, rest);
		WidenStep<kPremultiplied>(rest, lanes);
		memcpy(out + (size_t)i * kLanes, lanes, bytes * sizeof(uint16));
	}
	return AllOpaque(all);
}

// Orders two adjacent pixels of 16-bit lanes, a 128-bit lane, as pairs of the same channel:
// blue of both, green of both, red of both, alpha of both.
__attribute__((target("avx2"))) inline __m256i PairChannels(__m256i pixels)
{
	const __m256i kOrder = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0,
	                                        1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
	return _mm256_shuffle_epi8(pixels, kOrder);
}

// The two taps' weighed sum of the channel pairs of two destination pixels, one a 128-bit lane.
// The multiply-add takes signed 16-bit lanes, so the lanes (up to 65280) are moved down by 32768;
// as every pixel's weights sum to one, that takes 32768 * kWeightOne from each sum, added back
// here with the rounding half.
__attribute__((target("avx2"))) inline __m256i WeighPairs(__m256i pixels, __m256i weights)
{
	const __m256i kSignFlip = _mm256_set1_epi16((int16)0x8000);
	const __m256i kRestore =
	    _mm256_set1_epi32((32768 << AxisWeights::kWeightBits) + (1 << (kFirstPassShift - 1)));
	__m256i sums = _mm256_madd_epi16(_mm256_xor_si256(PairChannels(pixels), kSignFlip), weights);
	return _mm256_srli_epi32(_mm256_add_epi32(sums, kRestore), kFirstPassShift);
}

// One vector step of BlendRows(): eight pixels, the lanes of pixels 0 | 1, 2 | 3, 4 | 5, 6 | 7
// in the four sums, 128-bit lanes apart.
template <bool kPremultiplied>
__attribute__((target("avx2"))) inline __m256i BlendStep(const uint32* first, __m256i firstWeight,
                                                         const uint32* second, __m256i secondWeight,
                                                         bool opaque)
{
	__m256i sums[4];
	for (int32 k = 0; k < 4; k++) {
		__m256i a = _mm256_loadu_si256((const __m256i*)(first + 8 * k));
		__m256i b = _mm256_loadu_si256((const __m256i*)(second + 8 * k));
		sums[k] = _mm256_add_epi32(_mm256_mullo_epi32(a, firstWeight),
		                           _mm256_mullo_epi32(b, secondWeight));
	}

	// Packing leaves the pixels 0, 2, 4, 6 | 1, 3, 5, 7: put back in order.
	const __m256i kPixelOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
	if (!kPremultiplied) {
		const __m256i kHalf = _mm256_set1_epi32(kFinalHalf);
		for (int32 k = 0; k < 4; k++)
			sums[k] = _mm256_srli_epi32(_mm256_add_epi32(sums[k], kHalf), kFinalShift);
		__m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(sums[0], sums[1]),
		                                    _mm256_packus_epi32(sums[2], sums[3]));
		return _mm256_permutevar8x32_epi32(bytes, kPixelOrder);
	}

	// The alpha sums of all eight pixels, in the order packing gives, so that one division
	// serves them all.
	__m256i alphas = _mm256_unpackhi_epi64(_mm256_unpackhi_epi32(sums[0], sums[1]),
	                                       _mm256_unpackhi_epi32(sums[2], sums[3]));
	__m256 scales = _mm256_set1_ps(kOpaqueScale);
	if (!opaque) {
		__m256 divisors = _mm256_cvtepi32_ps(_mm256_max_epi32(alphas, _mm256_set1_epi32(1)));
		scales = _mm256_div_ps(_mm256_set1_ps(kAlphaScale), divisors);
	}
	__m256 spread[4] = {
	    _mm256_shuffle_ps(scales, scales, 0x00), _mm256_shuffle_ps(scales, scales, 0x55),
	    _mm256_shuffle_ps(scales, scales, 0xaa), _mm256_shuffle_ps(scales, scales, 0xff)};
	// The general path clamps quotients to 255; here the saturating packs do. A colour sum never
	// passes its alpha sum (colour times alpha is at most 255/256 of alpha shifted up by 8, and
	// each pass rounds both alike), so quotients stay near 256 at most, far from wrapping.
	const __m256 kBias = _mm256_set1_ps(kRoundingBias);
	__m256i colours[4];
	for (int32 k = 0; k < 4; k++) {
		__m256 scaled = _mm256_mul_ps(_mm256_cvtepi32_ps(sums[k]), spread[k]);
		colours[k] = _mm256_cvttps_epi32(_mm256_add_ps(scaled, kBias));
	}
	__m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(colours[0], colours[1]),
	                                    _mm256_packus_epi32(colours[2], colours[3]));

	const __m256i kAlphaHalf = _mm256_set1_epi32(1u << (kAlphaFinalShift - 1));
	const __m256i kColourBytes = _mm256_set1_epi32(0x00ffffff);
	__m256i alphaBytes = _mm256_slli_epi32(
	    _mm256_srli_epi32(_mm256_add_epi32(alphas, kAlphaHalf), kAlphaFinalShift), 24);
	bytes = _mm256_or_si256(_mm256_and_si256(bytes, kColourBytes), alphaBytes);
	return _mm256_permutevar8x32_epi32(bytes, kPixelOrder);
}

template <bool kPremultiplied>
__attribute__((target("avx2"))) void BlendRowsIn(const uint32* first, uint32 firstWeight,
                                                 const uint32* second, uint32 secondWeight,
                                                 int32 count, bool opaque, uint8* out)
{
	__m256i firstWeights = _mm256_set1_epi32((int32)firstWeight);
	__m256i secondWeights = _mm256_set1_epi32((int32)secondWeight);
	int32 i = 0;
	for (; i + kStepPixels <= count; i += kStepPixels) {
		size_t lane = (size_t)i * kLanes;
		__m256i pixels = BlendStep<kPremultiplied>(first + lane, firstWeights, second + lane,
		                                           secondWeights, opaque);
		_mm256_storeu_si256((__m256i*)(out + lane), pixels);
	}
	if (i == count)
		return;

	// The last few pixels take the same step from copies padded with zeros.
	size_t lane = (size_t)i * kLanes;
	size_t restLanes = (size_t)(count - i) * kLanes;
	uint32 firstRest[kStepPixels * kLanes] = {};
	uint32 secondRest[kStepPixels * kLanes] = {};
	memcpy(firstRest, first + lane, restLanes * sizeof(uint32));
	memcpy(secondRest, second + lane, restLanes * sizeof(uint32));
	uint8 pixels[kStepPixels * kLanes];
	_mm256_storeu_si256(
	    (__m256i*)pixels,
	    BlendStep<kPremultiplied>(firstRest, firstWeights, secondRest, secondWeights, opaque));
	memcpy(out + lane, pixels, restLanes);
}

} // namespace

bool CanInterpolateRows()
{
	return __builtin_cpu_supports("avx2");
}

bool WidenPixels(const uint8* row, int32 count, bool premultiplied, uint16* out)
{
	if (premultiplied)
		return WidenRowIn<true>(row, count, out);
	return WidenRowIn<false>(row, count, out);
}

__attribute__((target("avx2"))) void WeighRowPairs(const uint16* lanes, const AxisWeights& columns,
                                                   uint32* out)
{
	// The table is read through local pointers: vector stores may alias anything, and would
	// otherwise have every step fetch the table's own pointers again.
	const int32* starts = columns.Starts();
	const int16* weights = columns.Weights(0);
	int32 count = columns.Count();
	int32 firstColumn = starts[0];
	// Each destination pixel reads its two source pixels, 16 bytes, from its first column on.
	auto taps = [&](int32 i) {
		return _mm_loadu_si128(
		    (const __m128i*)(lanes + (size_t)(starts[i] - firstColumn) * kLanes));
	};

	// Two destination pixels a step, a 128-bit lane each.
	const __m256i kSpread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
	int32 i = 0;
	for (; i + 2 <= count; i += 2) {
		__m256i pixels = _mm256_inserti128_si256(_mm256_castsi128_si256(taps(i)), taps(i + 1), 1);
		__m256i pairWeights = _mm256_permutevar8x32_epi32(
		    _mm256_castsi128_si256(_mm_loadl_epi64((const __m128i*)(weights + 2 * i))), kSpread);
		_mm256_storeu_si256((__m256i*)(out + (size_t)i * kLanes), WeighPairs(pixels, pairWeights));
	}
	if (i == count)
		return;

	int32 weightPair;
	memcpy(&weightPair, weights + 2 * i, sizeof(weightPair));
	__m256i sums = WeighPairs(_mm256_castsi128_si256(taps(i)), _mm256_set1_epi32(weightPair));
	_mm_storeu_si128((__m128i*)(out + (size_t)i * kLanes), _mm256_castsi256_si128(sums));
}

void BlendRows(const uint32* first, uint32 firstWeight, const uint32* second, uint32 secondWeight,
               int32 count, bool premultiplied, bool opaque, uint8* out)
{
	if (premultiplied)
		BlendRowsIn<true>(first, firstWeight, second, secondWeight, count, opaque, out);
	else
		BlendRowsIn<false>(first, firstWeight, second, secondWeight, count, opaque, out);
}

} // namespace BPrivate
