#include "InterpolatingPlanes.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <immintrin.h>

#include "ResampleSteps.h"

namespace BPrivate {

namespace {

// Destination pixels one vector step makes, and the source pixels it may read.
const int32 kStepPixels = 16;
const int32 kWindowPixels = 32;

// How far ahead of a step's window the weighing asks for a source row's bytes: when doubling,
// about sixteen steps of sixteen pixels, or eight narrow ones.
const uintptr_t kReadAhead = 512;

// A weight with 16 fraction bits; one does not fit, and is taken as 65535.
uint16 NarrowWeight(uint32 weight)
{
	return (uint16)std::min<uint32>(weight << (16 - AxisWeights::kWeightBits), 65535);
}

// Bytes 0 .. count - 1 of a 64-byte half.
uint64 FirstBytes(int64 count)
{
	if (count <= 0)
		return 0;
	return count >= 64 ? ~(uint64)0 : ((uint64)1 << count) - 1;
}

#define PLANAR_TARGET                                                                              \
	__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni"), always_inline)) inline

// The bytes of one channel of a step's taps, `offset` bytes on from blue, each in the low byte
// of its 16-bit lane.
PLANAR_TARGET __m512i GatherChannel(__m512i first, __m512i second, __m512i taps, char offset)
{
	const __mmask64 kLowBytes = 0x5555555555555555ull;
	__m512i indices = _mm512_add_epi8(taps, _mm512_set1_epi8(offset));
	return _mm512_maskz_permutex2var_epi8(kLowBytes, first, indices, second);
}

// The weighed sums of each pixel's two taps, dropping kFirstPassShift bits. As in the other
// vector paths, the multiply-add takes signed lanes, so they are moved down by 32768, which the
// weights' sum of one takes back out of each sum with the rounding half.
PLANAR_TARGET __m512i WeighTaps(__m512i lanes, __m512i weights)
{
	const __m512i kSignFlip = _mm512_set1_epi16((int16)0x8000);
	const __m512i kRestore =
	    _mm512_set1_epi32((32768 << AxisWeights::kWeightBits) + (1 << (kFirstPassShift - 1)));
	__m512i sums = _mm512_dpwssd_epi32(kRestore, _mm512_xor_si512(lanes, kSignFlip), weights);
	return _mm512_srli_epi32(sums, kFirstPassShift);
}

// Loads a step's 32 source pixels from `base` on, bytes past the row's end as all ones, and ANDs
// them into `all`.
template <typename Block>
PLANAR_TARGET void LoadWindow(const uint8* row, const Block& block, __m512i& first, __m512i& second,
                              __m512i& all)
{
	const __m512i kOnes = _mm512_set1_epi8(-1);
	const uint8* window = row + (size_t)block.base * 4;
	// The row is read once, a step at a time, while the steps' stores wait on memory: asking for
	// its bytes well ahead keeps the weighing from waiting on them in turn. A prefetch does not
	// fault, past the row's end included.
	_mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(window) + kReadAhead),
	             _MM_HINT_T0);
	// Masked loads cost more than plain ones: only the last steps of a row take them.
	if (block.secondHalf == ~(uint64)0) {
		first = _mm512_loadu_si512(window);
		second = _mm512_loadu_si512(window + 64);
	} else {
		first = _mm512_mask_loadu_epi8(kOnes, block.firstHalf, window);
		second = _mm512_mask_loadu_epi8(kOnes, block.secondHalf, window + 64);
	}
	all = _mm512_and_si512(all, _mm512_and_si512(first, second));
}

// Weighs one step's taps of a source row into its planes. Every byte read is ANDed into `all`,
// bytes past the row's end as all ones, so that the row is opaque where its alpha bytes stay all
// ones.
template <bool kPremultiplied>
PLANAR_TARGET void WeighStep(const uint8* row, const PlanarBlock& block, uint32* planes,
                             __m512i& all)
{
	__m512i first, second;
	LoadWindow(row, block, first, second, all);
	__m512i taps = _mm512_load_si512(block.taps);
	__m512i weights = _mm512_load_si512(block.weights);
	__m512i alpha = GatherChannel(first, second, taps, 3);
	for (int32 c = 0; c < 3; c++) {
		__m512i lanes = GatherChannel(first, second, taps, (char)c);
		if (kPremultiplied)
			lanes = _mm512_mullo_epi16(lanes, alpha);
		_mm512_storeu_si512(planes + c * kStepPixels, WeighTaps(lanes, weights));
	}
	if (kPremultiplied)
		alpha = _mm512_slli_epi16(alpha, kAlphaShift);
	_mm512_storeu_si512(planes + 3 * kStepPixels, WeighTaps(alpha, weights));
}

// Whether every alpha byte of `all`, the AND of pixels, is 255.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline bool AllAlphasOpaque(__m512i all)
{
	const uint64 kAlphaBytes = 0x8888888888888888ull;
	return (_mm512_cmpeq_epi8_mask(all, _mm512_set1_epi8(-1)) & kAlphaBytes) == kAlphaBytes;
}

template <bool kPremultiplied>
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni"))) bool
WeighPlanesIn(const uint8* row, const PlanarColumns& columns, uint32* planes)
{
	__m512i all = _mm512_set1_epi8(-1);
	const PlanarBlock* blocks = &columns.Block(0);
	int32 count = columns.BlockCount();
	for (int32 b = 0; b < count; b++)
		WeighStep<kPremultiplied>(row, blocks[b], planes + b * kLanes * kStepPixels, all);
	return AllAlphasOpaque(all);
}

// Destination pixels one narrow step makes.
const int32 kNarrowPixels = 32;
const size_t kNarrowLanes = kLanes * kNarrowPixels;

// Weighs one narrow step's taps of a source row: each channel's two taps placed in the high
// bytes of 16-bit lanes, multiplied by their weights keeping the high 16 bits, and added.
template <bool kAlpha>
PLANAR_TARGET void WeighNarrowStep(const uint8* row, const NarrowBlock& block, uint16* planes,
                                   __m512i& all)
{
	const __mmask64 kHighBytes = 0xaaaaaaaaaaaaaaaaull;
	__m512i first, second;
	LoadWindow(row, block, first, second, all);
	__m512i taps = _mm512_load_si512(block.taps);
	__m512i firstWeights = _mm512_load_si512(block.firstWeights);
	__m512i secondWeights = _mm512_load_si512(block.secondWeights);
	for (int32 c = 0; c < (kAlpha ? kLanes : 3); c++) {
		__m512i firstTaps = _mm512_add_epi16(taps, _mm512_set1_epi16((int16)(c << 8)));
		__m512i secondTaps = _mm512_add_epi16(taps, _mm512_set1_epi16((int16)((c + 4) << 8)));
		__m512i a = _mm512_maskz_permutex2var_epi8(kHighBytes, first, firstTaps, second);
		__m512i b = _mm512_maskz_permutex2var_epi8(kHighBytes, first, secondTaps, second);
		__m512i sums = _mm512_add_epi16(_mm512_mulhi_epu16(a, firstWeights),
		                                _mm512_mulhi_epu16(b, secondWeights));
		_mm512_storeu_si512(planes + c * kNarrowPixels, sums);
	}
}

template <bool kAlpha>
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni"))) void
WeighNarrowIn(const uint8* row, const PlanarColumns& columns, uint16* planes)
{
	__m512i all = _mm512_set1_epi8(-1);
	const NarrowBlock* blocks = &columns.Narrow(0);
	int32 count = columns.NarrowBlockCount();
	for (int32 b = 0; b < count; b++)
		WeighNarrowStep<kAlpha>(row, blocks[b], planes + b * kNarrowLanes, all);
}

// One step's sixteen destination pixels from the channel sums of its weighed rows, in memory
// order. Where every pixel read is opaque, the alpha sums are not needed.
template <bool kPremultiplied, bool kOpaque>
PLANAR_TARGET __m512i FinishStep(const __m512i (&sums)[kLanes])
{
	__m512i lanes[kLanes];
	if (!kPremultiplied) {
		const __m512i kHalf = _mm512_set1_epi32(kFinalHalf);
		for (int32 c = 0; c < kLanes; c++)
			lanes[c] = _mm512_srli_epi32(_mm512_add_epi32(sums[c], kHalf), kFinalShift);
	} else {
		// Colours over the alpha sum, as the general path finishes them; the saturating packs
		// below clamp to 255 as it does.
		__m512 scale = _mm512_set1_ps(kOpaqueScale);
		if (!kOpaque) {
			__m512i alphas = _mm512_max_epi32(sums[3], _mm512_set1_epi32(1));
			scale = _mm512_div_ps(_mm512_set1_ps(kAlphaScale), _mm512_cvtepi32_ps(alphas));
		}
		const __m512 kBias = _mm512_set1_ps(kRoundingBias);
		for (int32 c = 0; c < 3; c++) {
			__m512 scaled = _mm512_mul_ps(_mm512_cvtepi32_ps(sums[c]), scale);
			lanes[c] = _mm512_cvttps_epi32(_mm512_add_ps(scaled, kBias));
		}
		const __m512i kAlphaHalf = _mm512_set1_epi32(1u << (kAlphaFinalShift - 1));
		lanes[3] = kOpaque
		               ? _mm512_set1_epi32(255)
		               : _mm512_srli_epi32(_mm512_add_epi32(sums[3], kAlphaHalf), kAlphaFinalShift);
	}

	// The packs leave, in each 128-bit lane, the blues of its four pixels, then their greens,
	// reds and alphas; the shuffle puts each pixel's four bytes together.
	const __m512i kInterleave =
	    _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
	__m512i bytes = _mm512_packus_epi16(_mm512_packus_epi32(lanes[0], lanes[1]),
	                                    _mm512_packus_epi32(lanes[2], lanes[3]));
	return _mm512_shuffle_epi8(bytes, kInterleave);
}

// The first `count` (at most sixteen) pixels of `run`.
PLANAR_TARGET void StorePixels(uint32* out, int32 count, __m512i run)
{
	_mm512_mask_storeu_epi32(out, (__mmask16)((1u << count) - 1), run);
}

// Writes a destination row sixteen pixels at a time, in whole 64-byte lines where the row is
// pixel-aligned: with streaming stores, which skip reading the destination first, or plain ones.
// The row need not start on a line: the `lead` pixels before the first line (sixteen where it
// does) are written on their own, and each line after takes the last pixels of one step and the
// first of the next.
struct LineWriter {
	uint32* pixels;
	int32 count;
	int32 lead;
	// Where the next line starts; negative before the first step.
	int32 at;
	bool wholeLines;
	bool streaming;
	__m512i shift;
	__m512i previous;
};

PLANAR_TARGET void StartLine(LineWriter& line, uint8* out, int32 count, bool streaming)
{
	uintptr_t address = reinterpret_cast<uintptr_t>(out);
	line.pixels = reinterpret_cast<uint32*>(out);
	line.count = count;
	line.wholeLines = address % 4 == 0;
	line.streaming = streaming;
	int32 before = (int32)((64 - address % 64) % 64 / 4);
	line.lead = line.wholeLines && before > 0 ? before : kStepPixels;
	line.at = line.lead - kStepPixels;
	// Lanes `lead` on from the previous step's first, into the next step where they pass it;
	// with a lead of sixteen, the next step itself.
	line.shift =
	    _mm512_add_epi32(_mm512_set1_epi32(line.lead),
	                     _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
	line.previous = _mm512_setzero_si512();
}

// Writes `run` at `line.at`, as far as the row goes.
PLANAR_TARGET void WriteRun(LineWriter& line, __m512i run)
{
	int32 left = line.count - line.at;
	if (left >= kStepPixels && line.wholeLines) {
		if (line.streaming)
			_mm512_stream_si512((__m512i*)(line.pixels + line.at), run);
		else
			_mm512_store_si512((__m512i*)(line.pixels + line.at), run);
	} else if (left > 0) {
		StorePixels(line.pixels + line.at, std::min(left, kStepPixels), run);
	}
}

// The row's next sixteen pixels.
PLANAR_TARGET void PutStep(LineWriter& line, __m512i run)
{
	if (line.at < 0)
		StorePixels(line.pixels, std::min(line.lead, line.count), run);
	else
		WriteRun(line, _mm512_permutex2var_epi32(line.previous, line.shift, run));
	line.previous = run;
	line.at += kStepPixels;
}

PLANAR_TARGET void EndLine(LineWriter& line)
{
	WriteRun(line, _mm512_permutex2var_epi32(line.previous, line.shift, _mm512_setzero_si512()));
}

// Ends a blend's destination rows, orders any streaming stores before whatever reads them, and
// with kWeigh tells whether the row weighed alongside is opaque, from the AND of its pixels.
template <int32 kRows, bool kWeigh>
PLANAR_TARGET void EndBlend(LineWriter (&writers)[kRows], PlanarWeighing* weighing, __m512i all)
{
	for (int32 k = 0; k < kRows; k++)
		EndLine(writers[k]);
	_mm_sfence();
	if (kWeigh)
		weighing->opaque = AllAlphasOpaque(all);
}

// kRows destination rows from the same two weighed rows, each with its own weights: the planes
// are read once for all of them. Where every pixel read is kOpaque, the alpha planes are not.
// With kWeigh, the next source row is weighed step by step alongside: the blend waits on its
// stores, which leaves the processor room for it.
template <bool kPremultiplied, bool kOpaque, int32 kRows, bool kWeigh>
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni"))) void
BlendPlanesIn(const uint32* first, const uint32* second, const PlanarLine* lines,
              const PlanarColumns& columns, PlanarWeighing* weighing)
{
	__m512i all = _mm512_set1_epi8(-1);
	__m512i firstWeights[kRows];
	__m512i secondWeights[kRows];
	LineWriter writers[kRows];
	for (int32 k = 0; k < kRows; k++) {
		firstWeights[k] = _mm512_set1_epi32((int32)lines[k].firstWeight);
		secondWeights[k] = _mm512_set1_epi32((int32)lines[k].secondWeight);
		// These steps do more work a pixel than the narrow ones, and streaming stores waiting
		// on memory held them up more than plain stores' reads of each line cost.
		StartLine(writers[k], lines[k].out, columns.Count(), false);
	}
	const int32 kChannels = kPremultiplied && kOpaque ? 3 : kLanes;
	const size_t kStepLanes = kLanes * kStepPixels;
	// Held apart from `columns` and `weighing`, which the stores could otherwise overwrite as far
	// as the compiler knows, and so would be read anew every step.
	const PlanarBlock* blocks = &columns.Block(0);
	int32 count = columns.BlockCount();
	const uint8* row = kWeigh ? weighing->row : nullptr;
	uint32* planes = kWeigh ? weighing->planes : nullptr;
	for (int32 b = 0; b < count; b++, first += kStepLanes, second += kStepLanes) {
		__m512i a[kLanes];
		__m512i c[kLanes];
		for (int32 channel = 0; channel < kChannels; channel++) {
			a[channel] = _mm512_loadu_si512(first + channel * kStepPixels);
			c[channel] = _mm512_loadu_si512(second + channel * kStepPixels);
		}
		for (int32 k = 0; k < kRows; k++) {
			__m512i sums[kLanes];
			for (int32 channel = 0; channel < kChannels; channel++) {
				sums[channel] = _mm512_add_epi32(_mm512_mullo_epi32(a[channel], firstWeights[k]),
				                                 _mm512_mullo_epi32(c[channel], secondWeights[k]));
			}
			PutStep(writers[k], FinishStep<kPremultiplied, kOpaque>(sums));
		}
		if (kWeigh)
			WeighStep<kPremultiplied>(row, blocks[b], planes + b * kStepLanes, all);
	}
	EndBlend<kRows, kWeigh>(writers, weighing, all);
}

template <bool kPremultiplied, bool kOpaque, int32 kRows>
void BlendPlanesWith(const uint32* first, const uint32* second, const PlanarLine* lines,
                     const PlanarColumns& columns, PlanarWeighing* weighing)
{
	if (weighing != nullptr)
		BlendPlanesIn<kPremultiplied, kOpaque, kRows, true>(first, second, lines, columns,
		                                                    weighing);
	else
		BlendPlanesIn<kPremultiplied, kOpaque, kRows, false>(first, second, lines, columns,
		                                                     weighing);
}

template <int32 kRows>
void BlendPlanesFor(const uint32* first, const uint32* second, const PlanarLine* lines,
                    const PlanarColumns& columns, bool premultiplied, bool opaque,
                    PlanarWeighing* weighing)
{
	if (!premultiplied)
		BlendPlanesWith<false, false, kRows>(first, second, lines, columns, weighing);
	else if (opaque)
		BlendPlanesWith<true, true, kRows>(first, second, lines, columns, weighing);
	else
		BlendPlanesWith<true, false, kRows>(first, second, lines, columns, weighing);
}

// kRows destination rows from the same two narrow weighed rows, 32 pixels a step, with the
// next source row weighed alongside where kWeigh.
template <bool kAlpha, int32 kRows, bool kWeigh>
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni"))) void
BlendNarrowIn(const uint16* first, const uint16* second, const PlanarLine* lines,
              const PlanarColumns& columns, PlanarWeighing* weighing)
{
	__m512i all = _mm512_set1_epi8(-1);
	__m512i firstWeights[kRows];
	__m512i secondWeights[kRows];
	LineWriter writers[kRows];
	for (int32 k = 0; k < kRows; k++) {
		firstWeights[k] = _mm512_set1_epi16((int16)NarrowWeight(lines[k].firstWeight));
		secondWeights[k] = _mm512_set1_epi16((int16)NarrowWeight(lines[k].secondWeight));
		StartLine(writers[k], lines[k].out, columns.Count(), true);
	}
	// Each pass leaves its sum short of the exact one by less than 3 256ths of a level; the
	// rounding half takes 3 more, so that what is made errs either way alike.
	const __m512i kHalf = _mm512_set1_epi16(128 + 3);
	// Byte 2j + 1 of the first operand, then of the second: two channels of pixel j side by side.
	__m512i pairs;
	{
		alignas(64) uint8 order[64];
		for (int32 j = 0; j < 32; j++) {
			order[2 * j] = (uint8)(2 * j + 1);
			order[2 * j + 1] = (uint8)(64 + 2 * j + 1);
		}
		pairs = _mm512_load_si512(order);
	}
	const __m512i kFirstHalf = _mm512_setr_epi32(
	    0x200000, 0x210001, 0x220002, 0x230003, 0x240004, 0x250005, 0x260006, 0x270007, 0x280008,
	    0x290009, 0x2a000a, 0x2b000b, 0x2c000c, 0x2d000d, 0x2e000e, 0x2f000f);
	const __m512i kSecondHalf = _mm512_add_epi16(kFirstHalf, _mm512_set1_epi16(16));
	const __m512i kOpaque = _mm512_set1_epi8(-1);
	const int32 kChannels = kAlpha ? kLanes : 3;
	const NarrowBlock* blocks = &columns.Narrow(0);
	int32 count = columns.NarrowBlockCount();
	const uint8* row = kWeigh ? weighing->row : nullptr;
	uint16* planes = kWeigh ? reinterpret_cast<uint16*>(weighing->planes) : nullptr;
	for (int32 b = 0; b < count; b++, first += kNarrowLanes, second += kNarrowLanes) {
		__m512i a[kLanes];
		__m512i c[kLanes];
		for (int32 channel = 0; channel < kChannels; channel++) {
			a[channel] = _mm512_loadu_si512(first + channel * kNarrowPixels);
			c[channel] = _mm512_loadu_si512(second + channel * kNarrowPixels);
		}
		for (int32 k = 0; k < kRows; k++) {
			__m512i sums[kLanes];
			for (int32 channel = 0; channel < kChannels; channel++) {
				sums[channel] = _mm512_add_epi16(
				    _mm512_add_epi16(_mm512_mulhi_epu16(a[channel], firstWeights[k]),
				                     _mm512_mulhi_epu16(c[channel], secondWeights[k])),
				    kHalf);
			}
			__m512i blueGreen = _mm512_permutex2var_epi8(sums[0], pairs, sums[1]);
			__m512i redAlpha = _mm512_permutex2var_epi8(sums[2], pairs, kAlpha ? sums[3] : kOpaque);
			PutStep(writers[k], _mm512_permutex2var_epi16(blueGreen, kFirstHalf, redAlpha));
			PutStep(writers[k], _mm512_permutex2var_epi16(blueGreen, kSecondHalf, redAlpha));
		}
		if (kWeigh)
			WeighNarrowStep<kAlpha>(row, blocks[b], planes + b * kNarrowLanes, all);
	}
	EndBlend<kRows, kWeigh>(writers, weighing, all);
}

template <bool kAlpha, int32 kRows>
void BlendNarrowWith(const uint16* first, const uint16* second, const PlanarLine* lines,
                     const PlanarColumns& columns, PlanarWeighing* weighing)
{
	if (weighing != nullptr)
		BlendNarrowIn<kAlpha, kRows, true>(first, second, lines, columns, weighing);
	else
		BlendNarrowIn<kAlpha, kRows, false>(first, second, lines, columns, weighing);
}

template <int32 kRows>
void BlendNarrowFor(const uint16* first, const uint16* second, const PlanarLine* lines,
                    const PlanarColumns& columns, bool withAlpha, PlanarWeighing* weighing)
{
	if (withAlpha)
		BlendNarrowWith<true, kRows>(first, second, lines, columns, weighing);
	else
		BlendNarrowWith<false, kRows>(first, second, lines, columns, weighing);
}

__attribute__((target("avx512f,avx512bw"))) bool RowIsOpaqueIn(const uint8* row, int32 count)
{
	const __m512i kOnes = _mm512_set1_epi8(-1);
	// A row with transparency usually shows it early: it is looked at a kilobyte at a time, so
	// that such a row is not read to its end.
	const int64 kChunk = 1024;
	__m512i all = kOnes;
	int64 bytes = (int64)count * 4;
	int64 i = 0;
	for (; i + kChunk <= bytes; i += kChunk) {
		for (int64 j = 0; j < kChunk; j += 64)
			all = _mm512_and_si512(all, _mm512_loadu_si512(row + i + j));
		if (!AllAlphasOpaque(all))
			return false;
	}
	for (; i + 64 <= bytes; i += 64)
		all = _mm512_and_si512(all, _mm512_loadu_si512(row + i));
	if (i < bytes)
		all = _mm512_and_si512(all, _mm512_mask_loadu_epi8(kOnes, FirstBytes(bytes - i), row + i));
	return AllAlphasOpaque(all);
}

// Places the window of the step whose destination pixels start at `from`: its first source pixel,
// counted from the table's first column, and which of its bytes lie inside rows of `widthRead`
// pixels. False when the step's taps do not fit in the window.
template <typename Block>
bool PlaceWindow(const AxisWeights& columns, int32 from, int32 pixels, int32 widthRead,
                 Block& block)
{
	int32 to = std::min(from + pixels, columns.Count());
	int32 lowest = columns.Start(from);
	int32 highest = columns.Start(from);
	for (int32 i = from; i < to; i++) {
		lowest = std::min(lowest, columns.Start(i));
		highest = std::max(highest, columns.Start(i));
	}
	block.base = lowest - columns.Start(0);
	int64 windowStart = (int64)block.base * 4;
	int64 rowBytes = (int64)widthRead * 4;
	block.firstHalf = FirstBytes(rowBytes - windowStart);
	block.secondHalf = FirstBytes(rowBytes - windowStart - 64);
	// Both taps of every pixel inside the window.
	return highest + 1 - lowest < kWindowPixels;
}

} // namespace

bool RowIsOpaque(const uint8* row, int32 count)
{
	return RowIsOpaqueIn(row, count);
}

void WeighRowNarrow(const uint8* row, const PlanarColumns& columns, bool withAlpha, uint16* planes)
{
	if (withAlpha)
		WeighNarrowIn<true>(row, columns, planes);
	else
		WeighNarrowIn<false>(row, columns, planes);
}

void BlendRowNarrow(const uint16* first, const uint16* second, const PlanarLine* lines,
                    int32 lineCount, const PlanarColumns& columns, bool withAlpha,
                    PlanarWeighing* weighing)
{
	if (lineCount == 2)
		BlendNarrowFor<2>(first, second, lines, columns, withAlpha, weighing);
	else
		BlendNarrowFor<1>(first, second, lines, columns, withAlpha, weighing);
}

bool PlanarColumns::Build(const AxisWeights& columns, int32 widthRead)
{
	static const bool kUsable =
	    __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
	    __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
	if (!kUsable || columns.Taps() != 2 || columns.Count() <= 0)
		return false;
	int32 count = columns.Count();
	int32 blockCount = (count + kStepPixels - 1) / kStepPixels;
	std::unique_ptr<PlanarBlock[]> blocks(new (std::nothrow) PlanarBlock[blockCount]);
	if (blocks == nullptr)
		return false;

	int32 firstColumn = columns.Start(0);
	for (int32 b = 0; b < blockCount; b++) {
		PlanarBlock& block = blocks[b];
		int32 from = b * kStepPixels;
		// The windows one run without gaps from the first column, so that the opacity of every
		// pixel read is seen.
		if (!PlaceWindow(columns, from, kStepPixels, widthRead, block))
			return false;
		if (b == 0 ? block.base != 0 : block.base > blocks[b - 1].base + kWindowPixels)
			return false;

		memset(block.taps, 0, sizeof(block.taps));
		for (int32 j = 0; j < kStepPixels; j++) {
			// Lanes past the last pixel repeat it; they are made and not written.
			int32 i = std::min(from + j, count - 1);
			int32 offset = (columns.Start(i) - firstColumn - block.base) * 4;
			block.taps[4 * j] = (uint8)offset;
			block.taps[4 * j + 2] = (uint8)(offset + 4);
			block.weights[2 * j] = columns.Weights(i)[0];
			block.weights[2 * j + 1] = columns.Weights(i)[1];
		}
	}
	fCount = count;
	fBlockCount = blockCount;
	fBlocks = std::move(blocks);
	_BuildNarrow(columns, widthRead);
	return true;
}

void PlanarColumns::_BuildNarrow(const AxisWeights& columns, int32 widthRead)
{
	int32 blockCount = (fCount + kNarrowPixels - 1) / kNarrowPixels;
	std::unique_ptr<NarrowBlock[]> blocks(new (std::nothrow) NarrowBlock[blockCount]);
	if (blocks == nullptr)
		return;
	int32 firstColumn = columns.Start(0);
	for (int32 b = 0; b < blockCount; b++) {
		NarrowBlock& block = blocks[b];
		int32 from = b * kNarrowPixels;
		if (!PlaceWindow(columns, from, kNarrowPixels, widthRead, block))
			return;

		memset(block.taps, 0, sizeof(block.taps));
		for (int32 j = 0; j < kNarrowPixels; j++) {
			int32 i = std::min(from + j, fCount - 1);
			block.taps[2 * j + 1] = (uint8)((columns.Start(i) - firstColumn - block.base) * 4);
			block.firstWeights[j] = NarrowWeight((uint32)columns.Weights(i)[0]);
			block.secondWeights[j] = NarrowWeight((uint32)columns.Weights(i)[1]);
		}
	}
	fNarrowBlockCount = blockCount;
	fNarrowBlocks = std::move(blocks);
}

bool WeighRowPlanes(const uint8* row, const PlanarColumns& columns, bool premultiplied,
                    uint32* planes)
{
	if (premultiplied)
		return WeighPlanesIn<true>(row, columns, planes);
	return WeighPlanesIn<false>(row, columns, planes);
}

void BlendRowPlanes(const uint32* first, const uint32* second, const PlanarLine* lines,
                    int32 lineCount, const PlanarColumns& columns, bool premultiplied, bool opaque,
                    PlanarWeighing* weighing)
{
	if (lineCount == 2)
		BlendPlanesFor<2>(first, second, lines, columns, premultiplied, opaque, weighing);
	else
		BlendPlanesFor<1>(first, second, lines, columns, premultiplied, opaque, weighing);
}

} // namespace BPrivate
