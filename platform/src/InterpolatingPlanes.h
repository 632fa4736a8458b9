// The row steps of drawing that interpolates between two source pixels along both axes, done
// sixteen destination pixels at a time with AVX-512 and its byte permutes. A weighed row is held
// in planes: for every sixteen destination pixels, sixteen blue sums, then green, red and alpha,
// so that the steps that blend rows and finish pixels work on one channel a register and never
// move lanes between pixels until the bytes are written. Same results, to the bit, as the general
// resampler's steps; the narrow steps below, for rows without transparency, within one level.
#ifndef INTERPOLATING_PLANES_H
#define INTERPOLATING_PLANES_H

#include <memory>

#include <SupportDefs.h>

#include "AxisWeights.h"

namespace BPrivate {

// What one vector step of sixteen destination pixels reads from a source row: the 32 source
// pixels from `base` on (fewer where the row ends), which bytes of them feed each destination
// pixel's two taps, and the taps' weights.
struct alignas(64) PlanarBlock {
	// For each destination pixel, two 16-bit lanes: the byte index of its first tap's blue,
	// then its second tap's, in the low bytes; green, red and alpha are 1, 2 and 3 bytes on.
	uint8 taps[64];
	// The two taps' weights of each destination pixel, in the order of `taps`.
	int16 weights[32];
	// Which bytes of the two 64-byte halves of the 32 source pixels lie inside the row.
	uint64 firstHalf;
	uint64 secondHalf;
	// The first source pixel, counted from the table's first column.
	int32 base;
};

// What one narrow step of 32 destination pixels reads from a source row, as PlanarBlock says,
// for weighing in 16 bits.
struct alignas(64) NarrowBlock {
	// For each destination pixel, a 16-bit lane whose high byte is the byte index of its first
	// tap's blue; its second tap's is 4 bytes on, green, red and alpha 1, 2 and 3.
	uint8 taps[64];
	// The taps' weights with 16 fraction bits (one is taken as 65535).
	uint16 firstWeights[32];
	uint16 secondWeights[32];
	uint64 firstHalf;
	uint64 secondHalf;
	int32 base;
};

// A table of two taps along rows, laid out for the steps below.
class PlanarColumns {
public:
	// Lays out `columns` for source rows of `widthRead` pixels from columns.Start(0) on. False
	// when the processor lacks the steps, when the table does not suit them (other than two
	// taps, or the taps of sixteen destination pixels spread over more than 32 source pixels),
	// or when memory is short; the caller then takes another way.
	bool Build(const AxisWeights& columns, int32 widthRead);

	// Destination pixels, and the 32-bit lanes of a weighed row of them.
	int32 Count() const { return fCount; }
	size_t Lanes() const { return (size_t)fBlockCount * 64; }

	int32 BlockCount() const { return fBlockCount; }
	const PlanarBlock& Block(int32 i) const { return fBlocks[i]; }

	// Whether the narrow steps below can take the table: the taps of 32 destination pixels
	// within 32 source pixels, as when enlarging. A narrow weighed row fits in Lanes() lanes.
	bool HasNarrow() const { return fNarrowBlocks != nullptr; }
	int32 NarrowBlockCount() const { return fNarrowBlockCount; }
	const NarrowBlock& Narrow(int32 i) const { return fNarrowBlocks[i]; }

private:
	void _BuildNarrow(const AxisWeights& columns, int32 widthRead);

	int32 fCount = 0;
	int32 fBlockCount = 0;
	int32 fNarrowBlockCount = 0;
	std::unique_ptr<PlanarBlock[]> fBlocks;
	std::unique_ptr<NarrowBlock[]> fNarrowBlocks;
};

// Whether every one of `count` pixels of a row has alpha 255.
bool RowIsOpaque(const uint8* row, int32 count);

// Widens one source row (from the table's first column on) and weighs it along the row into
// Lanes() planar lanes that drop kFirstPassShift bits, rounding; returns whether every pixel of
// the row read is opaque. Premultiplied, colours are weighed times alpha and alpha shifted up
// by kAlphaShift, as the general resampler widens them.
bool WeighRowPlanes(const uint8* row, const PlanarColumns& columns, bool premultiplied,
                    uint32* planes);

// A destination row blended from two weighed rows: each lane first * firstWeight + second *
// secondWeight, its pixels written from `out` on.
struct PlanarLine {
	uint32 firstWeight;
	uint32 secondWeight;
	uint8* out;
};

// The narrow steps, for plain pixels and opaque premultiplied ones, where colour over alpha is
// the colour itself: each lane is weighed in 16 bits, as the colour byte shifted up by 8, and
// each pass drops what its multiply leaves below 16 bits. The result lies within a few 256ths of
// a level of the planar steps' exact sums, and is rounded once at the end: it differs from theirs
// only where the exact value lies that near a half, and then by one level.

// Weighs one source row into narrow planes (32 destination pixels a step: blue, green, red and,
// `withAlpha`, alpha, 32 16-bit lanes each). Every pixel of a premultiplied row must be opaque.
void WeighRowNarrow(const uint8* row, const PlanarColumns& columns, bool withAlpha, uint16* planes);

// A source row to weigh while blending, as WeighRowPlanes() does (or WeighRowNarrow(), while
// blending narrow rows): into `planes`, which the blend does not read, setting `opaque`.
struct PlanarWeighing {
	const uint8* row;
	uint32* planes;
	bool opaque;
};

// Makes columns.Count() pixels of each of `lineCount` (1 or 2) destination rows from the same two
// weighed rows, finished as premultiplied (colours over alpha, or over a full alpha where every
// pixel read is `opaque`) or plain lanes; weighs the source row of `weighing` along, unless it is
// NULL.
void BlendRowPlanes(const uint32* first, const uint32* second, const PlanarLine* lines,
                    int32 lineCount, const PlanarColumns& columns, bool premultiplied, bool opaque,
                    PlanarWeighing* weighing);

// BlendRowPlanes() for narrow weighed rows; without `withAlpha`, every pixel made is opaque.
void BlendRowNarrow(const uint16* first, const uint16* second, const PlanarLine* lines,
                    int32 lineCount, const PlanarColumns& columns, bool withAlpha,
                    PlanarWeighing* weighing);

} // namespace BPrivate

#endif // INTERPOLATING_PLANES_H
