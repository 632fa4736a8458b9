// GCC 12 takes the undefined upper operand that many AVX-512 intrinsics pass for a use of an
// uninitialised value; the warning is false, and it points into the compiler's own header.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "InterpolatingRows.h"

#include <algorithm>
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

// Sixteen pixels' lanes, four pixels a register, saturated to bytes and put in pixel order.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i
PackPixels(const __m512i lanes[4])
{
	// The packs leave pixels j, 4 + j, 8 + j and 12 + j in 128-bit lane j.
	const __m512i kPixelOrder =
	    _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
	__m512i bytes = _mm512_packus_epi16(_mm512_packus_epi32(lanes[0], lanes[1]),
	                                    _mm512_packus_epi32(lanes[2], lanes[3]));
	return _mm512_permutexvar_epi32(kPixelOrder, bytes);
}

// The AVX-512 form of BlendStep(): sixteen pixels a step, four a register, one 128-bit lane
// each, in pixel order. The weights of two rows sum to one (1 << kWeightBits), so first *
// firstWeight + second * secondWeight is (first << kWeightBits) + (second - first) * secondWeight,
// exact in 32-bit arithmetic as the sum fits.
template <bool kPremultiplied>
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i
BlendStepWide(const uint32* first, const uint32* second, __m512i secondWeight, bool opaque)
{
	__m512i sums[4];
	for (int32 k = 0; k < 4; k++) {
		__m512i a = _mm512_loadu_si512(first + 16 * k);
		__m512i b = _mm512_loadu_si512(second + 16 * k);
		sums[k] = _mm512_add_epi32(_mm512_slli_epi32(a, AxisWeights::kWeightBits),
		                           _mm512_mullo_epi32(_mm512_sub_epi32(b, a), secondWeight));
	}
	__m512i lanes[4];
	if (!kPremultiplied) {
		const __m512i kHalf = _mm512_set1_epi32(kFinalHalf);
		for (int32 k = 0; k < 4; k++)
			lanes[k] = _mm512_srli_epi32(_mm512_add_epi32(sums[k], kHalf), kFinalShift);
		return PackPixels(lanes);
	}

	// One scale a pixel: the alpha sums of all sixteen gathered, so that one division serves
	// them all, then spread back over each pixel's four lanes.
	const int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
	__m512 scales = _mm512_set1_ps(kOpaqueScale);
	if (!opaque) {
		const __m512i kAlphaLanes =
		    _mm512_setr_epi32(3, 7, 11, 15, 19, 23, 27, 31, 3, 7, 11, 15, 19, 23, 27, 31);
		__m512i low = _mm512_permutex2var_epi32(sums[0], kAlphaLanes, sums[1]);
		__m512i high = _mm512_permutex2var_epi32(sums[2], kAlphaLanes, sums[3]);
		__m512i alphas = _mm512_shuffle_i64x2(low, high, _MM_SHUFFLE(1, 0, 1, 0));
		__m512 divisors = _mm512_cvtepi32_ps(_mm512_max_epi32(alphas, _mm512_set1_epi32(1)));
		scales = _mm512_div_round_ps(_mm512_set1_ps(kAlphaScale), divisors, kNearest);
	}
	const __m512 kBias = _mm512_set1_ps(kRoundingBias);
	const __m512i kAlphaHalf = _mm512_set1_epi32(1u << (kAlphaFinalShift - 1));
	__m512i spread = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
	for (int32 k = 0; k < 4; k++, spread = _mm512_add_epi32(spread, _mm512_set1_epi32(4))) {
		__m512 scale = _mm512_permutexvar_ps(spread, scales);
		__m512 scaled = _mm512_mul_round_ps(_mm512_cvtepi32_ps(sums[k]), scale, kNearest);
		__m512i colours = _mm512_cvttps_epi32(_mm512_add_round_ps(scaled, kBias, kNearest));
		__m512i alphas = _mm512_srli_epi32(_mm512_add_epi32(sums[k], kAlphaHalf), kAlphaFinalShift);
		lanes[k] = _mm512_mask_blend_epi32(0x8888, colours, alphas);
	}
	return PackPixels(lanes);
}

template <bool kPremultiplied>
__attribute__((target("avx512f,avx512bw"))) void
BlendRowsWide(const uint32* first, uint32 firstWeight, const uint32* second, uint32 secondWeight,
              int32 count, bool opaque, uint8* out)
{
	// The few pixels before the first 64-byte boundary go the narrow way, so that the rest is
	// written with aligned streaming stores, which skip reading the destination first.
	int32 i = std::min(count, (int32)((64 - reinterpret_cast<uintptr_t>(out) % 64) % 64 / 4));
	BlendRowsIn<kPremultiplied>(first, firstWeight, second, secondWeight, i, opaque, out);
	__m512i secondWeights = _mm512_set1_epi32((int32)secondWeight);
	for (; i + 16 <= count; i += 16) {
		size_t lane = (size_t)i * kLanes;
		_mm512_stream_si512(
		    (__m512i*)(out + lane),
		    BlendStepWide<kPremultiplied>(first + lane, second + lane, secondWeights, opaque));
	}
	_mm_sfence();
	size_t lane = (size_t)i * kLanes;
	BlendRowsIn<kPremultiplied>(first + lane, firstWeight, second + lane, secondWeight, count - i,
	                            opaque, out + lane);
}

// The AVX-512 form of WeighRowPairs()'s steps: four destination pixels a step, a 128-bit lane
// each, as WeighPairs() weighs them. Returns how many destination pixels it made, from the
// first on; WeighRowPairs() makes the rest.
__attribute__((target("avx512f,avx512bw"))) int32 WeighFourPairs(const uint16* lanes,
                                                                 const int32* starts,
                                                                 const int16* weights, int32 count,
                                                                 uint32* out)
{
	const __m512i kSpread = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
	const __m512i kOrder =
	    _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15));
	const __m512i kSignFlip = _mm512_set1_epi16((int16)0x8000);
	const __m512i kRestore =
	    _mm512_set1_epi32((32768 << AxisWeights::kWeightBits) + (1 << (kFirstPassShift - 1)));
	int32 firstColumn = starts[0];
	auto taps = [&](int32 i) {
		return _mm_loadu_si128(
		    (const __m128i*)(lanes + (size_t)(starts[i] - firstColumn) * kLanes));
	};
	int32 i = 0;
	for (; i + 4 <= count; i += 4) {
		__m512i pixels = _mm512_castsi128_si512(taps(i));
		pixels = _mm512_inserti32x4(pixels, taps(i + 1), 1);
		pixels = _mm512_inserti32x4(pixels, taps(i + 2), 2);
		pixels = _mm512_inserti32x4(pixels, taps(i + 3), 3);
		__m512i pairWeights = _mm512_permutexvar_epi32(
		    kSpread, _mm512_castsi128_si512(_mm_loadu_si128((const __m128i*)(weights + 2 * i))));
		__m512i paired = _mm512_xor_si512(_mm512_shuffle_epi8(pixels, kOrder), kSignFlip);
		__m512i sums = _mm512_add_epi32(_mm512_madd_epi16(paired, pairWeights), kRestore);
		_mm512_storeu_si512(out + (size_t)i * kLanes, _mm512_srli_epi32(sums, kFirstPassShift));
	}
	return i;
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

	// Two destination pixels a step, a 128-bit lane each, after as many as AVX-512 makes.
	static const bool kWide = __builtin_cpu_supports("avx512bw");
	const __m256i kSpread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
	int32 i = kWide ? WeighFourPairs(lanes, starts, weights, count, out) : 0;
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
	static const bool kWide = __builtin_cpu_supports("avx512bw");
	// The wide steps take the weights' sum to be one; any other pair goes the general way.
	if (kWide && firstWeight + secondWeight == 1u << AxisWeights::kWeightBits) {
		if (premultiplied)
			BlendRowsWide<true>(first, firstWeight, second, secondWeight, count, opaque, out);
		else
			BlendRowsWide<false>(first, firstWeight, second, secondWeight, count, opaque, out);
		return;
	}
	if (premultiplied)
		BlendRowsIn<true>(first, firstWeight, second, secondWeight, count, opaque, out);
	else
		BlendRowsIn<false>(first, firstWeight, second, secondWeight, count, opaque, out);
}

} // namespace BPrivate
