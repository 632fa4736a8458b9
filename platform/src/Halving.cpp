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

template <bool kPremultiplied>
void Halve(SourceRows source, DestinationRows destination, const AxisWeights& columns,
           const AxisWeights& rows)
{
	for (int32 r = 0; r < rows.Count(); r++) {
		const uint8* top = source.Pixel(columns.Start(0), rows.Start(r));
		uint8* out = destination.Pixel(columns.First(), rows.First() + r);
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
