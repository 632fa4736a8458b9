#include "Resampler.h"

#include <algorithm>
#include <memory>
#include <new>

#include "Halving.h"
#include "InterpolatingPlanes.h"
#include "InterpolatingRows.h"
#include "ResampleSteps.h"

namespace BPrivate {

namespace {

// Destination pixels summed and finished at a time in the column-first order.
const int32 kChunkPixels = 512;

// Copies columns first .. first + count - 1 of one row into 16-bit lanes, and returns whether
// all of them are opaque. Premultiplied, the colour lanes hold colour times alpha (up to 65025),
// which keeps every bit of a low alpha, and alpha is shifted up by kAlphaShift.
template <bool kPremultiplied>
__attribute__((always_inline)) inline bool WidenRow(const uint8* row, int32 count, uint16* out)
{
	uint8 alphas = 0xff;
	for (int32 x = 0; x < count; x++, row += 4, out += kLanes) {
		uint16 factor = kPremultiplied ? row[3] : 1;
		out[0] = row[0] * factor;
		out[1] = row[1] * factor;
		out[2] = row[2] * factor;
		out[3] = kPremultiplied ? row[3] << kAlphaShift : row[3];
		alphas &= row[3];
	}
	return alphas == 0xff;
}

// Weighs source lanes into the columns the table names; `lanes` holds the source from the
// table's first column on. Sums drop kShift bits, rounding. kTaps is the table's tap count, or 0
// for any.
template <int32 kShift, int32 kTaps, typename Lane>
__attribute__((always_inline)) inline void WeighRow(const Lane* lanes, const AxisWeights& columns,
                                                    uint32* out)
{
	const uint32 kHalf = (1u << kShift) >> 1;
	int32 firstColumn = columns.Start(0);
	int32 taps = kTaps != 0 ? kTaps : columns.Taps();
	for (int32 i = 0; i < columns.Count(); i++, out += kLanes) {
		const Lane* pixel = lanes + (size_t)(columns.Start(i) - firstColumn) * kLanes;
		const int16* weights = columns.Weights(i);
		uint32 sum[kLanes] = {};
		for (int32 t = 0; t < taps; t++, pixel += kLanes) {
			uint32 weight = weights[t];
			for (int32 lane = 0; lane < kLanes; lane++)
				sum[lane] += weight * pixel[lane];
		}
		for (int32 lane = 0; lane < kLanes; lane++)
			out[lane] = (sum[lane] + kHalf) >> kShift;
	}
}

// WeighRow() for a table that halves: with two weights of one half, each weighed sum is the
// plain sum of the two pixels shifted up by kWeightBits - 1, which dropping kShift bits leaves
// exact.
template <int32 kShift, typename Lane>
__attribute__((always_inline)) inline void HalveRow(const Lane* lanes, int32 count, uint32* out)
{
	for (int32 i = 0; i < count; i++, lanes += 2 * kLanes, out += kLanes) {
		for (int32 lane = 0; lane < kLanes; lane++) {
			uint32 sum = (uint32)lanes[lane] + lanes[kLanes + lane];
			out[lane] = sum << (AxisWeights::kWeightBits - 1 - kShift);
		}
	}
}

template <int32 kShift, typename Lane>
__attribute__((always_inline)) inline void WeighAnyRow(const Lane* lanes,
                                                       const AxisWeights& columns, uint32* out)
{
	if (columns.IsHalving())
		HalveRow<kShift>(lanes, columns.Count(), out);
	else if (columns.Taps() == 2)
		WeighRow<kShift, 2>(lanes, columns, out);
	else
		WeighRow<kShift, 0>(lanes, columns, out);
}

template <typename Lane>
__attribute__((always_inline)) inline void AddWeighted(const Lane* row, uint32 weight, uint32* sums,
                                                       size_t lanes)
{
	for (size_t i = 0; i < lanes; i++)
		sums[i] += weight * row[i];
}

template <typename Lane>
__attribute__((always_inline)) inline void SetWeighted(const Lane* row, uint32 weight, uint32* sums,
                                                       size_t lanes)
{
	for (size_t i = 0; i < lanes; i++)
		sums[i] = weight * row[i];
}

// Drops kFirstPassShift bits of column sums, rounding, so that they can be weighed again
// without passing 32 bits.
__attribute__((always_inline)) inline void NarrowSums(uint32* sums, size_t lanes)
{
	for (size_t i = 0; i < lanes; i++)
		sums[i] = (sums[i] + (1 << (kFirstPassShift - 1))) >> kFirstPassShift;
}

// All four bytes weighed alike: each is its sum, rounded.
__attribute__((always_inline)) inline void FinishPlain(const uint32* sums, size_t lanes, uint8* out)
{
	for (size_t i = 0; i < lanes; i++)
		out[i] = (uint8)((sums[i] + kFinalHalf) >> kFinalShift);
}

// Alpha is its sum, rounded.
__attribute__((always_inline)) inline void FinishAlpha(const uint32* sums, size_t lanes, uint8* out)
{
	for (size_t i = 3; i < lanes; i += kLanes)
		out[i] = (uint8)((sums[i] + (1u << (kAlphaFinalShift - 1))) >> kAlphaFinalShift);
}

// Premultiplied sums of opaque pixels: every colour is its sum over the same alpha sum.
__attribute__((always_inline)) inline void FinishOpaque(const uint32* sums, size_t lanes,
                                                        uint8* out)
{
	for (size_t i = 0; i < lanes; i++)
		out[i] = (uint8)std::min((float)(int32)sums[i] * kOpaqueScale + kRoundingBias, 255.0f);
	FinishAlpha(sums, lanes, out);
}

// Premultiplied sums: each colour is its sum over the pixel's alpha sum. A pixel that nothing
// opaque reached is transparent black. Done in passes over consecutive values, which vectorise:
// the alpha sums, their reciprocals, a scale for every lane, the lanes scaled, alpha.
__attribute__((always_inline)) inline void
FinishPremultiplied(const uint32* sums, int32 count, float* inverses, float* scales, uint8* out)
{
	size_t lanes = (size_t)count * kLanes;
	// Every sum stays below 2^31, so it converts to float through int32, which vectorises.
	for (int32 i = 0; i < count; i++)
		inverses[i] = kAlphaScale / (float)std::max((int32)sums[i * kLanes + 3], 1);
	for (int32 i = 0; i < count; i++) {
		for (int32 lane = 0; lane < kLanes; lane++)
			scales[i * kLanes + lane] = inverses[i];
	}
	for (size_t i = 0; i < lanes; i++)
		out[i] = (uint8)std::min((float)(int32)sums[i] * scales[i] + kRoundingBias, 255.0f);
	FinishAlpha(sums, lanes, out);
}

template <bool kPremultiplied>
__attribute__((always_inline)) inline void Finish(const uint32* sums, int32 count, bool opaque,
                                                  float* scales, uint8* out)
{
	size_t lanes = (size_t)count * kLanes;
	if (!kPremultiplied)
		FinishPlain(sums, lanes, out);
	else if (opaque)
		FinishOpaque(sums, lanes, out);
	else
		FinishPremultiplied(sums, count, scales + lanes, scales, out);
}

// The working rows of one draw. Rows widened or weighed once are kept for the next destination
// row by the parity of their source row: consecutive destination rows share at most one source
// row, and an enlarging table reads two, so each source row is prepared once.
struct WorkingRows {
	std::unique_ptr<uint16[]> widened;
	std::unique_ptr<uint32[]> sums;
	std::unique_ptr<float[]> scales;
	int64 keptRow[2] = {-1, -1};
	bool keptOpaque[2] = {false, false};

	bool Allocate(size_t widenedLanes, size_t sumLanes, size_t scaleCount)
	{
		widened.reset(new (std::nothrow) uint16[widenedLanes]);
		sums.reset(new (std::nothrow) uint32[sumLanes]);
		scales.reset(new (std::nothrow) float[scaleCount]);
		return widened != NULL && sums != NULL && scales != NULL;
	}

	// Goes through the source rows that destination row r reads with a weight, from source
	// column firstColumn on. A row not kept yet is first prepared into its slot by
	// prepare(row, slot), which returns whether all its pixels are opaque; then every row is
	// handed to take(slot, weight). Returns whether every row read is opaque.
	template <typename Prepare, typename Take>
	__attribute__((always_inline)) inline bool ReadRows(SourceRows source, int32 firstColumn,
	                                                    const AxisWeights& rows, int32 r,
	                                                    Prepare prepare, Take take)
	{
		const int16* weights = rows.Weights(r);
		bool opaque = true;
		for (int32 t = 0; t < rows.Taps(); t++) {
			if (weights[t] == 0)
				continue;
			int32 y = rows.Start(r) + t;
			int32 slot = y & 1;
			if (keptRow[slot] != y) {
				keptOpaque[slot] = prepare(source.Pixel(firstColumn, y), slot);
				keptRow[slot] = y;
			}
			opaque = opaque && keptOpaque[slot];
			take(slot, (uint32)weights[t]);
		}
		return opaque;
	}
};

// Widens one source row and weighs it along the row into `out`; returns whether all its pixels
// are opaque. Tables of two taps take the vector steps where the processor has them.
template <bool kPremultiplied>
__attribute__((always_inline)) inline bool
WeighSourceRow(const uint8* row, int32 widthRead, const AxisWeights& columns, bool vectorRows,
               uint16* widened, uint32* out)
{
	if (vectorRows && columns.Taps() == 2) {
		bool opaque = WidenPixels(row, widthRead, kPremultiplied, widened);
		WeighRowPairs(widened, columns, out);
		return opaque;
	}
	bool opaque = WidenRow<kPremultiplied>(row, widthRead, widened);
	WeighAnyRow<kFirstPassShift>(widened, columns, out);
	return opaque;
}

// The one or two weighed source rows a destination row is made of, with their weights.
struct WeighedRows {
	const uint32* rows[2] = {};
	uint32 weights[2] = {};
	int32 count = 0;

	void Add(const uint32* row, uint32 weight)
	{
		rows[count] = row;
		weights[count++] = weight;
	}
};

// Sums `count` destination pixels from their weighed rows and finishes them, a chunk at a time,
// which stays in the first-level cache.
template <bool kPremultiplied>
__attribute__((always_inline)) inline void SumWeighedRows(const WeighedRows& read, int32 count,
                                                          bool opaque, uint32* sums, float* scales,
                                                          uint8* out)
{
	for (int32 x = 0; x < count; x += kChunkPixels) {
		int32 chunk = std::min(kChunkPixels, count - x);
		size_t offset = (size_t)x * kLanes;
		size_t chunkLanes = (size_t)chunk * kLanes;
		SetWeighted(read.rows[0] + offset, read.weights[0], sums, chunkLanes);
		if (read.count == 2)
			AddWeighted(read.rows[1] + offset, read.weights[1], sums, chunkLanes);
		Finish<kPremultiplied>(sums, chunk, opaque, scales, out + offset);
	}
}

// The source rows destination row r reads with a weight (one or two), and their weights.
struct RowsRead {
	int32 rows[2] = {};
	uint32 weights[2] = {};
	int32 count = 0;

	RowsRead(const AxisWeights& table, int32 r)
	{
		for (int32 t = 0; t < table.Taps(); t++) {
			if (table.Weights(r)[t] == 0)
				continue;
			rows[count] = table.Start(r) + t;
			weights[count++] = (uint32)table.Weights(r)[t];
		}
	}

	bool SameRows(const RowsRead& other) const
	{
		return count == other.count && rows[0] == other.rows[0] && rows[1] == other.rows[1];
	}
};

// ResampleColumnsFirst() with the planar steps, for tables of two taps along rows. Three source
// rows are kept weighed, by their number modulo 3: the two that destination rows are blended
// from, and the next one, weighed while they are. Plain rows, and premultiplied rows that are all
// opaque, are weighed narrow where the table allows.
template <bool kPremultiplied>
__attribute__((always_inline)) inline status_t
ResamplePlanes(SourceRows source, DestinationRows destination, const AxisWeights& columns,
               const PlanarColumns& planar, const AxisWeights& rows, int32 widthRead)
{
	size_t lanes = planar.Lanes();
	std::unique_ptr<uint32[]> storage(new (std::nothrow) uint32[lanes * 3]);
	if (storage == NULL)
		return B_NO_MEMORY;
	// Each kept row: its number, whether it is weighed narrow, whether it is opaque.
	int32 kept[3] = {-1, -1, -1};
	bool keptNarrow[3] = {};
	bool keptOpaque[3] = {};
	// The opacity of the rows last looked at, by the same slots.
	int32 seen[3] = {-1, -1, -1};
	bool seenOpaque[3] = {};
	auto planes = [&](int32 y) { return storage.get() + lanes * (size_t)(y % 3); };
	auto narrowPlanes = [&](int32 y) { return reinterpret_cast<uint16*>(planes(y)); };
	auto sourceRow = [&](int32 y) { return source.Pixel(columns.Start(0), y); };
	auto isOpaque = [&](int32 y) {
		if (seen[y % 3] != y) {
			seenOpaque[y % 3] = RowIsOpaque(sourceRow(y), widthRead);
			seen[y % 3] = y;
		}
		return seenOpaque[y % 3];
	};
	// Whether the rows `read` reads are blended narrow.
	auto narrowFor = [&](const RowsRead& read) {
		if (!planar.HasNarrow())
			return false;
		if (!kPremultiplied)
			return true;
		for (int32 i = 0; i < read.count; i++) {
			if (!isOpaque(read.rows[i]))
				return false;
		}
		return true;
	};

	for (int32 r = 0; r < rows.Count();) {
		RowsRead read(rows, r);
		bool narrow = narrowFor(read);
		bool opaque = true;
		for (int32 i = 0; i < read.count; i++) {
			int32 y = read.rows[i];
			if (kept[y % 3] != y || keptNarrow[y % 3] != narrow) {
				if (narrow) {
					WeighRowNarrow(sourceRow(y), planar, !kPremultiplied, narrowPlanes(y));
					keptOpaque[y % 3] = kPremultiplied;
				} else {
					keptOpaque[y % 3] =
					    WeighRowPlanes(sourceRow(y), planar, kPremultiplied, planes(y));
				}
				kept[y % 3] = y;
				keptNarrow[y % 3] = narrow;
			}
			opaque = opaque && keptOpaque[y % 3];
		}

		// Enlarging, consecutive destination rows mostly read the same source rows: they are
		// made together, from one pass over the weighed rows.
		int32 lineCount = r + 1 < rows.Count() && read.SameRows(RowsRead(rows, r + 1)) ? 2 : 1;
		PlanarLine lines[2];
		for (int32 k = 0; k < lineCount; k++) {
			RowsRead line(rows, r + k);
			lines[k] = {line.weights[0], line.count == 2 ? line.weights[1] : 0,
			            destination.Pixel(columns.First(), rows.First() + r + k)};
		}

		// The first source row the next destination row reads that is not weighed yet, if its
		// planes are not among those read now and it is weighed the way these are.
		int32 next = -1;
		if (r + lineCount < rows.Count()) {
			RowsRead following(rows, r + lineCount);
			for (int32 i = 0; i < following.count && next < 0; i++) {
				int32 y = following.rows[i];
				bool inUse = y % 3 == read.rows[0] % 3 || y % 3 == read.rows[read.count - 1] % 3;
				if (kept[y % 3] != y && !inUse && narrowFor(following) == narrow)
					next = y;
			}
		}
		PlanarWeighing weighing = {};
		if (next >= 0)
			weighing = {sourceRow(next), planes(next), false};

		PlanarWeighing* along = next >= 0 ? &weighing : nullptr;
		if (narrow) {
			BlendRowNarrow(narrowPlanes(read.rows[0]), narrowPlanes(read.rows[read.count - 1]),
			               lines, lineCount, planar, !kPremultiplied, along);
			weighing.opaque = kPremultiplied;
		} else {
			BlendRowPlanes(planes(read.rows[0]), planes(read.rows[read.count - 1]), lines,
			               lineCount, planar, kPremultiplied, opaque, along);
		}
		if (next >= 0) {
			kept[next % 3] = next;
			keptNarrow[next % 3] = narrow;
			keptOpaque[next % 3] = weighing.opaque;
		}
		r += lineCount;
	}
	return B_OK;
}

// Source rows are widened, weighed along the row, then destination rows summed from the weighed
// rows: the order for tables that keep or add rows (one or two taps), since each source row is
// weighed once.
template <bool kPremultiplied>
__attribute__((always_inline)) inline status_t
ResampleColumnsFirst(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                     const AxisWeights& rows, int32 widthRead)
{
	PlanarColumns planar;
	if (planar.Build(columns, widthRead))
		return ResamplePlanes<kPremultiplied>(source, destination, columns, planar, rows,
		                                      widthRead);

	size_t lanes = (size_t)columns.Count() * kLanes;
	WorkingRows work;
	if (!work.Allocate((size_t)widthRead * kLanes, lanes * 3, lanes + columns.Count()))
		return B_NO_MEMORY;
	uint32* sums = work.sums.get();
	uint32* weighed[2] = {sums + lanes, sums + 2 * lanes};
	bool vectorRows = CanInterpolateRows();
	auto weigh = [&](const uint8* row, int32 slot) {
		return WeighSourceRow<kPremultiplied>(row, widthRead, columns, vectorRows,
		                                      work.widened.get(), weighed[slot]);
	};

	for (int32 r = 0; r < rows.Count(); r++) {
		WeighedRows read;
		bool opaque =
		    work.ReadRows(source, columns.Start(0), rows, r, weigh,
		                  [&](int32 slot, uint32 weight) { read.Add(weighed[slot], weight); });
		uint8* out = destination.Pixel(columns.First(), rows.First() + r);
		if (vectorRows) {
			uint32 secondWeight = read.count == 2 ? read.weights[1] : 0;
			BlendRows(read.rows[0], read.weights[0], read.rows[read.count - 1], secondWeight,
			          columns.Count(), kPremultiplied, opaque, out);
			continue;
		}
		SumWeighedRows<kPremultiplied>(read, columns.Count(), opaque, sums, work.scales.get(), out);
	}
	return B_OK;
}

// Each destination row is summed from widened source rows, then weighed along the row: the
// order for tables that drop rows, since fewer rows are weighed.
template <bool kPremultiplied>
__attribute__((always_inline)) inline status_t
ResampleRowsFirst(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                  const AxisWeights& rows, int32 widthRead)
{
	size_t readLanes = (size_t)widthRead * kLanes;
	size_t lanes = (size_t)columns.Count() * kLanes;
	WorkingRows work;
	if (!work.Allocate(readLanes * 2, readLanes + lanes, lanes + columns.Count()))
		return B_NO_MEMORY;
	uint16* widened[2] = {work.widened.get(), work.widened.get() + readLanes};
	uint32* columnSums = work.sums.get();
	uint32* sums = columnSums + readLanes;
	auto widen = [&](const uint8* row, int32 slot) {
		return WidenRow<kPremultiplied>(row, widthRead, widened[slot]);
	};

	for (int32 r = 0; r < rows.Count(); r++) {
		bool first = true;
		auto add = [&](int32 slot, uint32 weight) {
			if (first)
				SetWeighted(widened[slot], weight, columnSums, readLanes);
			else
				AddWeighted(widened[slot], weight, columnSums, readLanes);
			first = false;
		};
		bool opaque = work.ReadRows(source, columns.Start(0), rows, r, widen, add);
		NarrowSums(columnSums, readLanes);
		WeighAnyRow<0>(columnSums, columns, sums);
		uint8* out = destination.Pixel(columns.First(), rows.First() + r);
		Finish<kPremultiplied>(sums, columns.Count(), opaque, work.scales.get(), out);
	}
	return B_OK;
}

template <bool kPremultiplied>
__attribute__((always_inline)) inline status_t
Resample(SourceRows source, DestinationRows destination, const AxisWeights& columns,
         const AxisWeights& rows)
{
	// Only the source columns the table reads are widened.
	int32 widthRead = columns.Start(columns.Count() - 1) + columns.Taps() - columns.Start(0);
	int64 rowsRead = (int64)rows.Start(rows.Count() - 1) + rows.Taps() - rows.Start(0);
	if (rows.Taps() > 2 || rows.Count() < rowsRead)
		return ResampleRowsFirst<kPremultiplied>(source, destination, columns, rows, widthRead);
	return ResampleColumnsFirst<kPremultiplied>(source, destination, columns, rows, widthRead);
}

// The pixel loops are compiled for the wider vectors of newer processors as well, chosen when
// the library loads. clang inlines them into each clone without being told and refuses the
// combination with flatten.
#ifdef __clang__
#define PIXEL_LOOP_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PIXEL_LOOP_CLONES __attribute__((target_clones("avx2", "default"), flatten))
#endif

PIXEL_LOOP_CLONES status_t ResamplePremultiplied(SourceRows source, DestinationRows destination,
                                                 const AxisWeights& columns,
                                                 const AxisWeights& rows)
{
	return Resample<true>(source, destination, columns, rows);
}

PIXEL_LOOP_CLONES status_t ResamplePlain(SourceRows source, DestinationRows destination,
                                         const AxisWeights& columns, const AxisWeights& rows)
{
	return Resample<false>(source, destination, columns, rows);
}

} // namespace

status_t ResamplePixels(SourceRows source, DestinationRows destination, const AxisWeights& columns,
                        const AxisWeights& rows, bool premultiplied)
{
	if (HalvePixels(source, destination, columns, rows, premultiplied))
		return B_OK;
	if (premultiplied)
		return ResamplePremultiplied(source, destination, columns, rows);
	return ResamplePlain(source, destination, columns, rows);
}

} // namespace BPrivate
