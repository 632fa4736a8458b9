// The planar steps of interpolating drawing against the row steps they stand in for: on the same
// rows and tables they must give the same bytes, write nothing outside the destination pixels,
// and read nothing outside the source row.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "AxisWeights.h"
#include "InterpolatingPlanes.h"
#include "InterpolatingRows.h"

namespace {

using namespace BPrivate;

// A table along one axis: `count` source pixels from `first`, of which `limit` can be read,
// stretched over destination pixels `destination`, of which `clip` are made.
struct TableCase {
	const char* label;
	PixelSpan source;
	int64 limit;
	PixelSpan destination;
	PixelSpan clip;
};

void PrintTo(const TableCase& c, std::ostream* out)
{
	*out << c.label;
}

const TableCase kTables[] = {
    {"TwoToThree", {0, 2}, 2, {0, 3}, {0, 3}},
    {"DoubleOf9", {0, 9}, 9, {0, 17}, {0, 17}},
    {"DoubleOf17", {0, 17}, 17, {0, 33}, {0, 33}},
    {"DoubleOf40", {0, 40}, 40, {0, 79}, {0, 79}},
    {"DoubleOf300", {0, 300}, 300, {0, 599}, {0, 599}},
    {"TripleOf23", {0, 23}, 23, {0, 69}, {0, 69}},
    {"SevenToTen", {0, 7}, 7, {0, 10}, {0, 10}},
    {"ThreeToTwo", {0, 48}, 48, {0, 32}, {0, 32}},
    {"PartOfTheSource", {5, 20}, 31, {0, 50}, {0, 50}},
    {"SourcePastItsEnd", {3, 20}, 15, {0, 41}, {0, 41}},
    {"Clipped", {0, 30}, 30, {0, 59}, {7, 33}},
    {"OneIntoMany", {0, 2}, 2, {0, 100}, {0, 100}},
};

// Random pixels; opaque sets every alpha to 255.
std::vector<uint8> RandomRow(size_t pixels, uint32 seed, bool opaque)
{
	std::mt19937 random(seed);
	std::vector<uint8> row(pixels * 4);
	for (size_t i = 0; i < row.size(); i++)
		row[i] = (uint8)random();
	for (size_t i = 3; opaque && i < row.size(); i += 4)
		row[i] = 255;
	return row;
}

// What the drawing makes: the destination row, and whether the rows read were opaque.
struct Made {
	std::vector<uint8> bytes;
	bool opaque[2];
};

const uint8 kMarker = 0xa5;
// Bytes of marker on each side of the destination pixels.
const size_t kGuard = 128;

// A destination row of `count` pixels starting `offset` bytes past a 64-byte boundary, between
// markers.
struct Destination {
	std::unique_ptr<uint8[]> storage;
	uint8* pixels;
	size_t count;

	Destination(size_t count, size_t offset)
	    : storage(new uint8[count * 4 + 2 * kGuard + 128]), count(count)
	{
		uint8* aligned = storage.get() + (64 - reinterpret_cast<uintptr_t>(storage.get()) % 64);
		pixels = aligned + kGuard + offset;
		memset(storage.get(), kMarker, count * 4 + 2 * kGuard + 128);
	}

	std::vector<uint8> Pixels() const { return std::vector<uint8>(pixels, pixels + count * 4); }

	bool GuardsIntact() const
	{
		for (size_t i = 1; i <= kGuard - 64; i++) {
			if (pixels[-(ptrdiff_t)i] != kMarker || pixels[count * 4 + i - 1] != kMarker)
				return false;
		}
		return true;
	}
};

struct Blend {
	uint32 firstWeight;
	uint32 secondWeight;
	size_t offset;
};

class PlanarSteps
    : public testing::TestWithParam<std::tuple<TableCase, bool /* premultiplied */, bool>> {
protected:
	void SetUp() override
	{
		const auto& [c, premultiplied, opaque] = GetParam();
		ASSERT_EQ(fColumns.Compute(c.source, c.limit, c.destination, c.clip), B_OK);
		ASSERT_EQ(fColumns.Taps(), 2);
		fWidthRead = fColumns.Start(fColumns.Count() - 1) + 2 - fColumns.Start(0);
		if (!fPlanar.Build(fColumns, fWidthRead))
			GTEST_SKIP() << "this processor lacks the planar steps";
		ASSERT_TRUE(CanInterpolateRows());
		for (int32 r = 0; r < 2; r++) {
			// Each row read exactly as long as the table reads it, from its first column.
			fRows[r] = RandomRow((size_t)fWidthRead, 7 + r, opaque);
		}
	}

	// The row steps: widen and weigh each source row, then blend.
	Made ByRows(uint32 firstWeight, uint32 secondWeight, size_t offset)
	{
		bool premultiplied = std::get<1>(GetParam());
		size_t lanes = (size_t)fColumns.Count() * 4;
		std::vector<uint16> widened((size_t)fWidthRead * 4);
		std::vector<uint32> weighed[2] = {std::vector<uint32>(lanes), std::vector<uint32>(lanes)};
		Made made;
		for (int32 r = 0; r < 2; r++) {
			made.opaque[r] =
			    WidenPixels(fRows[r].data(), fWidthRead, premultiplied, widened.data());
			WeighRowPairs(widened.data(), fColumns, weighed[r].data());
		}
		Destination out(fColumns.Count(), offset);
		BlendRows(weighed[0].data(), firstWeight, weighed[1].data(), secondWeight, fColumns.Count(),
		          premultiplied, made.opaque[0] && made.opaque[1], out.pixels);
		EXPECT_TRUE(out.GuardsIntact());
		made.bytes = out.Pixels();
		return made;
	}

	// One or two destination rows from the same two weighed rows, each with its weights and
	// offset from a line. The second source row is weighed on its own, or `alongside` a blend
	// of the first with itself.
	std::vector<Made> ByPlanes(const std::vector<Blend>& blends, bool alongside)
	{
		bool premultiplied = std::get<1>(GetParam());
		std::vector<uint32> weighed[2] = {std::vector<uint32>(fPlanar.Lanes()),
		                                  std::vector<uint32>(fPlanar.Lanes())};
		bool opaque[2];
		opaque[0] = WeighRowPlanes(fRows[0].data(), fPlanar, premultiplied, weighed[0].data());
		if (alongside) {
			Destination scratch(fColumns.Count(), 0);
			PlanarLine line = {4096, 0, scratch.pixels};
			PlanarWeighing weighing = {fRows[1].data(), weighed[1].data(), !opaque[0]};
			BlendRowPlanes(weighed[0].data(), weighed[0].data(), &line, 1, fPlanar, premultiplied,
			               opaque[0], &weighing);
			opaque[1] = weighing.opaque;
		} else {
			opaque[1] = WeighRowPlanes(fRows[1].data(), fPlanar, premultiplied, weighed[1].data());
		}
		return Blended(blends, {opaque[0], opaque[1]}, [&](const PlanarLine* lines, int32 count) {
			BlendRowPlanes(weighed[0].data(), weighed[1].data(), lines, count, fPlanar,
			               premultiplied, opaque[0] && opaque[1], nullptr);
		});
	}

	// ByPlanes() with the narrow steps.
	std::vector<Made> ByNarrow(const std::vector<Blend>& blends, bool alongside)
	{
		bool withAlpha = !std::get<1>(GetParam());
		std::vector<uint32> weighed[2] = {std::vector<uint32>(fPlanar.Lanes()),
		                                  std::vector<uint32>(fPlanar.Lanes())};
		auto narrow = [&](int32 r) { return reinterpret_cast<uint16*>(weighed[r].data()); };
		WeighRowNarrow(fRows[0].data(), fPlanar, withAlpha, narrow(0));
		if (alongside) {
			Destination scratch(fColumns.Count(), 0);
			PlanarLine line = {4096, 0, scratch.pixels};
			PlanarWeighing weighing = {fRows[1].data(), weighed[1].data(), false};
			BlendRowNarrow(narrow(0), narrow(0), &line, 1, fPlanar, withAlpha, &weighing);
		} else {
			WeighRowNarrow(fRows[1].data(), fPlanar, withAlpha, narrow(1));
		}
		return Blended(blends, {true, true}, [&](const PlanarLine* lines, int32 count) {
			BlendRowNarrow(narrow(0), narrow(1), lines, count, fPlanar, withAlpha, nullptr);
		});
	}

	// Each of `blends` made by `blend` into a destination row of its own, between markers.
	std::vector<Made> Blended(const std::vector<Blend>& blends, std::pair<bool, bool> opaque,
	                          const std::function<void(const PlanarLine*, int32)>& blend)
	{
		std::vector<Destination> outs;
		std::vector<PlanarLine> lines;
		for (const Blend& one : blends) {
			outs.emplace_back(fColumns.Count(), one.offset);
			lines.push_back({one.firstWeight, one.secondWeight, outs.back().pixels});
		}
		blend(lines.data(), (int32)lines.size());
		std::vector<Made> made;
		for (const Destination& out : outs) {
			EXPECT_TRUE(out.GuardsIntact());
			made.push_back({out.Pixels(), {opaque.first, opaque.second}});
		}
		return made;
	}

	AxisWeights fColumns;
	PlanarColumns fPlanar;
	int32 fWidthRead = 0;
	std::vector<uint8> fRows[2];
};

// Every weighing of the two rows, at every alignment of the destination to a 64-byte line (and
// at addresses off pixel alignment, which take no streaming stores), one destination row at a
// time or two together (the second source row then weighed alongside a blend): the same bytes
// and the same opacity as the row steps.
TEST_P(PlanarSteps, MatchTheRowSteps)
{
	const uint32 kWeights[][2] = {{4096, 0}, {2048, 2048}, {1, 4095}, {3071, 1025}, {0, 4096}};
	const size_t kCount = sizeof(kWeights) / sizeof(kWeights[0]);
	std::vector<Made> expected;
	for (const auto& weights : kWeights)
		expected.push_back(ByRows(weights[0], weights[1], 0));
	for (size_t w = 0; w < kCount; w++) {
		for (size_t offset :
		     {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56, 60, 1, 2, 3}) {
			size_t other = (w + 1) % kCount;
			size_t otherOffset = (offset + 20) % 64;
			for (bool together : {false, true}) {
				std::vector<Blend> blends = {{kWeights[w][0], kWeights[w][1], offset}};
				if (together)
					blends.push_back({kWeights[other][0], kWeights[other][1], otherOffset});
				std::vector<Made> made = ByPlanes(blends, together);
				for (size_t k = 0; k < made.size(); k++) {
					const Made& want = expected[k == 0 ? w : other];
					ASSERT_EQ(made[k].opaque[0], want.opaque[0]);
					ASSERT_EQ(made[k].opaque[1], want.opaque[1]);
					ASSERT_EQ(made[k].bytes, want.bytes)
					    << "weights " << kWeights[k == 0 ? w : other][0] << ", offset "
					    << blends[k].offset << (together ? ", two rows" : "");
				}
			}
		}
	}
}

// The narrow steps, where they apply (plain pixels, or opaque premultiplied ones): within a
// fiftieth of a level of the exact interpolation by the table's weights, where the row steps'
// two roundings leave theirs up to a quarter of a level off; so never more than one level from
// the row steps. Alignments, two rows at once and weighing alongside as above.
TEST_P(PlanarSteps, NarrowStaysWithinOneLevel)
{
	const auto& [c, premultiplied, opaque] = GetParam();
	if (!fPlanar.HasNarrow() || (premultiplied && !opaque))
		return;
	const uint32 kWeights[][2] = {{4096, 0}, {2048, 2048}, {1, 4095}, {3071, 1025}, {0, 4096}};
	const size_t kCount = sizeof(kWeights) / sizeof(kWeights[0]);
	// Each byte of the destination row, interpolated in double precision.
	auto exact = [&](const uint32* weights) {
		std::vector<double> bytes;
		int32 firstColumn = fColumns.Start(0);
		for (int32 i = 0; i < fColumns.Count(); i++) {
			size_t at = (size_t)(fColumns.Start(i) - firstColumn) * 4;
			for (size_t channel = 0; channel < 4; channel++) {
				double along[2];
				for (int32 r = 0; r < 2; r++) {
					along[r] = (fRows[r][at + channel] * fColumns.Weights(i)[0] +
					            fRows[r][at + 4 + channel] * fColumns.Weights(i)[1]) /
					           4096.0;
				}
				bytes.push_back((along[0] * weights[0] + along[1] * weights[1]) / 4096.0);
			}
		}
		return bytes;
	};
	for (size_t w = 0; w < kCount; w++) {
		Made byRows = ByRows(kWeights[w][0], kWeights[w][1], 0);
		std::vector<double> want = exact(kWeights[w]);
		for (size_t offset = 0; offset < 64; offset += 4) {
			size_t other = (w + 1) % kCount;
			std::vector<Blend> blends = {{kWeights[w][0], kWeights[w][1], offset},
			                             {kWeights[other][0], kWeights[other][1], 60 - offset}};
			std::vector<Made> made = ByNarrow(blends, offset % 8 == 0);
			std::vector<double> otherWant = exact(kWeights[other]);
			for (size_t k = 0; k < made.size(); k++) {
				const std::vector<double>& expected = k == 0 ? want : otherWant;
				ASSERT_EQ(made[k].bytes.size(), expected.size());
				for (size_t i = 0; i < expected.size(); i++) {
					ASSERT_LE(std::abs(made[k].bytes[i] - expected[i]), 0.52)
					    << "byte " << i << ", offset " << blends[k].offset;
				}
			}
			for (size_t i = 0; i < byRows.bytes.size(); i++)
				ASSERT_LE(std::abs(made[0].bytes[i] - byRows.bytes[i]), 1) << "byte " << i;
		}
	}
}

// One pixel short of opaque anywhere in a row read makes it not opaque, the last one included.
TEST_P(PlanarSteps, SeeEveryPixelsAlpha)
{
	bool premultiplied = std::get<1>(GetParam());
	std::vector<uint8> opaque = RandomRow((size_t)fWidthRead, 11, true);
	std::vector<uint32> weighed(fPlanar.Lanes());
	EXPECT_TRUE(WeighRowPlanes(opaque.data(), fPlanar, premultiplied, weighed.data()));
	for (int32 x = 0; x < fWidthRead; x++) {
		std::vector<uint8> row = opaque;
		row[(size_t)x * 4 + 3] = 254;
		EXPECT_FALSE(WeighRowPlanes(row.data(), fPlanar, premultiplied, weighed.data())) << x;
	}
}

class RowOpacity : public testing::TestWithParam<int32> {};

// Rows of every length around the kilobyte that the check looks at in one go: opaque until any
// one pixel is not, and blind to what lies past the row's end.
TEST_P(RowOpacity, SeesEveryPixelsAlphaAndNoMore)
{
	if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw"))
		GTEST_SKIP() << "this processor lacks the check";
	int32 count = GetParam();
	std::vector<uint8> opaque = RandomRow((size_t)count + 1, 13, true);
	opaque[(size_t)count * 4 + 3] = 0;
	EXPECT_TRUE(RowIsOpaque(opaque.data(), count));
	for (int32 x = 0; x < count; x++) {
		std::vector<uint8> row = opaque;
		row[(size_t)x * 4 + 3] = 254;
		EXPECT_FALSE(RowIsOpaque(row.data(), count)) << x;
	}
}

INSTANTIATE_TEST_SUITE_P(Lengths, RowOpacity,
                         testing::Values(1, 15, 16, 17, 255, 256, 257, 300, 512, 529));

INSTANTIATE_TEST_SUITE_P(Tables, PlanarSteps,
                         testing::Combine(testing::ValuesIn(kTables), testing::Bool(),
                                          testing::Bool()));

} // namespace
