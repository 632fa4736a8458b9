// GCC 12 takes the undefined upper operand that many AVX-512 intrinsics pass for a use of an
// uninitialised value; the warning is false, and it points into the compiler's own header.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "Halving.h"

#include <algorithm>

#include <immintrin.h>

#include "ResampleSteps.h"

namespace BPrivate {

namespace {

// The same steps as the general resampler takes for two weights of one half along both axes,
// with its scale factors (powers of two) left out: premultiplied, the sums of four colours
// weighted by alpha over four alphas (alpha shifted up by kAlphaShift), rounded with the same
// bias in the same float steps; plain, the rounded sum of four bytes over four.
template <bool kPremultiplied> void HalvePixel(const uint8* top, const uint8* bottom, uint8* out)
{
	uint32 sums[kLanes] = {};
	const uint8* pixels[4] = {top, top + 4, bottom, bottom + 4};
	for (const uint8* pixel : pixels) {
		uint32 factor = kPremultiplied ? pixel[3] : 1;
		for (int32 lane = 0; lane < 3; lane++)
			sums[lane] += pixel[lane] * factor;
		sums[3] += kPremultiplied ? pixel[3] << kAlphaShift : pixel[3];
	}
	if (!kPremultiplied) {
		for (int32 lane = 0; lane < kLanes; lane++)
			out[lane] = (uint8)((sums[lane] + 2) >> 2);
		return;
	}
	float inverse = kAlphaScale / (float)std::max(sums[3], 1u);
	for (int32 lane = 0; lane < 3; lane++)
		out[lane] = (uint8)std::min((float)sums[lane] * inverse + kRoundingBias, 255.0f);
	out[3] = (uint8)((sums[3] + (2 << kAlphaShift)) >> (kAlphaShift + 2));
}

// Two source pixels a 128-bit lane widened to 32-bit sums: the pixel pairs of `pixels` (16-bit
// lanes, two pixels each half) added pixel by pixel.
__attribute__((target("avx2"))) inline __m256i AddPairs(__m256i pixels)
{
	__m256i zero = _mm256_setzero_si256();
	return _mm256_add_epi32(_mm256_unpacklo_epi16(pixels, zero),
	                        _mm256_unpackhi_epi16(pixels, zero));
}

// Turns the sums of two destination pixels a 128-bit lane into pixels.
template <bool kPremultiplied> __attribute__((target("avx2"))) inline __m256i Finish(__m256i sums)
{
	if (!kPremultiplied) {
		return _mm256_srli_epi32(_mm256_add_epi32(sums, _mm256_set1_epi32(2)), 2);
	}
	__m256i alphaSums = _mm256_shuffle_epi32(sums, _MM_SHUFFLE(3, 3, 3, 3));
	__m256 inverses =
	    _mm256_div_ps(_mm256_set1_ps(kAlphaScale),
	                  _mm256_cvtepi32_ps(_mm256_max_epu32(alphaSums, _mm256_set1_epi32(1))));
	__m256 colours = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sums), inverses),
	                               _mm256_set1_ps(kRoundingBias));
	__m256i alphas = _mm256_srli_epi32(_mm256_add_epi32(sums, _mm256_set1_epi32(2 << kAlphaShift)),
	                                   kAlphaShift + 2);
	return _mm256_blend_epi32(_mm256_cvttps_epi32(colours), alphas, 0x88);
}

// Four destination pixels from eight source pixels of each of two rows.
template <bool kPremultiplied>
__attribute__((target("avx2"))) inline void HalveFour(__m256i top, __m256i bottom, uint8* out)
{
	__m256i topLow, topHigh, bottomLow, bottomHigh;
	WidenLanes<kPremultiplied>(top, topLow, topHigh);
	WidenLanes<kPremultiplied>(bottom, bottomLow, bottomHigh);
	// Destination pixels 0 | 2 from the low halves, 1 | 3 from the high halves.
	__m256i even = Finish<kPremultiplied>(_mm256_add_epi32(AddPairs(topLow), AddPairs(bottomLow)));
	__m256i odd = Finish<kPremultiplied>(_mm256_add_epi32(AddPairs(topHigh), AddPairs(bottomHigh)));
	__m256i words = _mm256_packus_epi32(even, odd);
	__m256i bytes = _mm256_packus_epi16(words, words);
	bytes = _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0));
	_mm_storeu_si128((__m128i*)out, _mm256_castsi256_si128(bytes));
}

// Halves one pair of rows into `count` destination pixels, four at a time.
template <bool kPremultiplied>
__attribute__((target("avx2"))) void HalveRows(const uint8* top, const uint8* bottom, int32 count,
                                               uint8* out)
{
	int32 i = 0;
	for (; i + 4 <= count; i += 4, top += 32, bottom += 32, out += 16) {
		__m256i topBytes = _mm256_loadu_si256((const __m256i*)top);
		__m256i bottomBytes = _mm256_loadu_si256((const __m256i*)bottom);
		// Weighting four opaque pixels by their alphas gives exactly the plain rounded mean (the
		// float steps land at least 1/4096 from every rounding edge), so opaque blocks, the
		// common case in photographs, skip the weighting.
		if (kPremultiplied && !AllOpaque(_mm256_and_si256(topBytes, bottomBytes)))
			HalveFour<true>(topBytes, bottomBytes, out);
		else
			HalveFour<false>(topBytes, bottomBytes, out);
	}
	for (; i < count; i++, top += 8, bottom += 8, out += 4)
		HalvePixel<kPremultiplied>(top, bottom, out);
}

// The AVX-512 form: eight destination pixels a step from sixteen source pixels of each row.
// Within each 128-bit lane the bytes of two neighbouring pixels are paired channel by channel,
// so that one multiply-add sums each pair, weighted or not.
__attribute__((target("avx512f,avx512bw"))) inline __m512i PairNeighbours(__m512i bytes)
{
	const __m512i kOrder =
	    _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15));
	return _mm512_shuffle_epi8(bytes, kOrder);
}

// The plain rounded mean of each 2 x 2 block.
__attribute__((target("avx512f,avx512bw"))) inline void HalveEightPlain(__m512i top, __m512i bottom,
                                                                        uint8* out)
{
	const __m512i kOnes = _mm512_set1_epi8(1);
	__m512i sums = _mm512_add_epi16(_mm512_maddubs_epi16(PairNeighbours(top), kOnes),
	                                _mm512_maddubs_epi16(PairNeighbours(bottom), kOnes));
	__m512i means = _mm512_srli_epi16(_mm512_add_epi16(sums, _mm512_set1_epi16(2)), 2);
	_mm256_storeu_si256((__m256i*)out, _mm512_cvtepi16_epi8(means));
}

// The sums of one row's neighbour pairs, colours weighted by alpha and alpha shifted up by
// kAlphaShift: destination pixels 0 to 3 in `low`, 4 to 7 in `high`.
__attribute__((target("avx512f,avx512bw"))) inline void WeighNeighbours(__m512i bytes, __m512i& low,
                                                                        __m512i& high)
{
	// Each pair's factors: the two alphas for the colours, 1 << kAlphaShift for alpha itself.
	const __m512i kAlphaOrder = _mm512_broadcast_i32x4(
	    _mm_setr_epi8(3, 7, 3, 7, 3, 7, -1, -1, 11, 15, 11, 15, 11, 15, -1, -1));
	const __m512i kAlphaFactor = _mm512_broadcast_i32x4(
	    _mm_setr_epi16(0, 0, 0, 0, 0, 0, 1 << kAlphaShift, 1 << kAlphaShift));
	__m512i paired = PairNeighbours(bytes);
	__m512i alphas = _mm512_shuffle_epi8(bytes, kAlphaOrder);
	__m512i lowFactors =
	    _mm512_or_si512(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(alphas)), kAlphaFactor);
	__m512i highFactors =
	    _mm512_or_si512(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(alphas, 1)), kAlphaFactor);
	low = _mm512_madd_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(paired)), lowFactors);
	high =
	    _mm512_madd_epi16(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(paired, 1)), highFactors);
}

// Four destination pixels from their sums, in the float steps of Finish<true>().
__attribute__((target("avx512f,avx512bw"))) inline void FinishFour(__m512i sums, uint8* out)
{
	const int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
	__m512i alphaSums = _mm512_shuffle_epi32(sums, _MM_PERM_DDDD);
	__m512 inverses = _mm512_div_round_ps(
	    _mm512_set1_ps(kAlphaScale),
	    _mm512_cvtepi32_ps(_mm512_max_epu32(alphaSums, _mm512_set1_epi32(1))), kNearest);
	__m512 colours =
	    _mm512_add_round_ps(_mm512_mul_round_ps(_mm512_cvtepi32_ps(sums), inverses, kNearest),
	                        _mm512_set1_ps(kRoundingBias), kNearest);
	__m512i alphas = _mm512_srli_epi32(_mm512_add_epi32(sums, _mm512_set1_epi32(2 << kAlphaShift)),
	                                   kAlphaShift + 2);
	__m512i pixels = _mm512_mask_blend_epi32(0x8888, _mm512_cvttps_epi32(colours), alphas);
	_mm_storeu_si128((__m128i*)out, _mm512_cvtusepi32_epi8(pixels));
}

template <bool kPremultiplied>
__attribute__((target("avx512f,avx512bw"))) void
HalveRowsWide(const uint8* top, const uint8* bottom, int32 count, uint8* out)
{
	const __mmask64 kAlphaBytes = 0x8888888888888888ull;
	int32 i = 0;
	for (; i + 8 <= count; i += 8, top += 64, bottom += 64, out += 32) {
		__m512i topBytes = _mm512_loadu_si512(top);
		__m512i bottomBytes = _mm512_loadu_si512(bottom);
		if (!kPremultiplied ||
		    _mm512_mask_cmpneq_epi8_mask(kAlphaBytes, _mm512_and_si512(topBytes, bottomBytes),
		                                 _mm512_set1_epi8(-1)) == 0) {
			HalveEightPlain(topBytes, bottomBytes, out);
			continue;
		}
		__m512i topLow, topHigh, bottomLow, bottomHigh;
		WeighNeighbours(topBytes, topLow, topHigh);
		WeighNeighbours(bottomBytes, bottomLow, bottomHigh);
		FinishFour(_mm512_add_epi32(topLow, bottomLow), out);
		FinishFour(_mm512_add_epi32(topHigh, bottomHigh), out + 16);
	}
	HalveRows<kPremultiplied>(top, bottom, count - i, out);
}

template <bool kPremultiplied>
void Halve(SourceRows source, DestinationRows destination, const AxisWeights& columns,
           const AxisWeights& rows)
{
	bool wide = __builtin_cpu_supports("avx512bw");
	for (int32 r = 0; r < rows.Count(); r++) {
		const uint8* top = source.Pixel(columns.Start(0), rows.Start(r));
		uint8* out = destination.Pixel(columns.First(), rows.First() + r);
		if (wide)
			HalveRowsWide<kPremultiplied>(top, top + source.bytesPerRow, columns.Count(), out);
		else
			HalveRows<kPremultiplied>(top, top + source.bytesPerRow, columns.Count(), out);
	}
}

} // namespace

bool HalvePixels(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                 const AxisWeights& rows, bool premultiplied)
{
	if (!columns.IsHalving() || !rows.IsHalving() || !__builtin_cpu_supports("avx2"))
		return false;
	if (premultiplied)
		Halve<true>(source, destination, columns, rows);
	else
		Halve<false>(source, destination, columns, rows);
	return true;
}

} // namespace BPrivate
