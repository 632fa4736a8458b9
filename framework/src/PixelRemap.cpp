#include <PixelRemap.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define PIXEL_REMAP_WIDE 1
#endif

#include <AccessorDomain.h>
#include <BitmapDrawer.h>

namespace {

// Destinations from this size on are far larger than the caches: they are written with
// streaming stores, which skip reading each destination line before overwriting it.
const size_t kStreamingBytes = 8 << 20;

// Without AVX-512, rows that stay rows are moved this many at a time, a chunk of each in turn: the
// memory serves several distant streams at once faster than a single one. Chunks of 4 KiB keep the
// calls per byte few.
const int32 kRowsAtOnce = 8;
const int32 kChunkWords = 1024;

// Without AVX-512, and at the ragged edges, square tiles of this many pixels a side: a tile of the
// source and its transposed copy take 32 KiB together, which stays in the first-level cache.
const int32 kTileSize = 64;

// A placement turned into word offsets within the destination's pixel memory: source pixel
// (x, y) goes to origin + x * xStep + y * yStep.
struct WordPlacement {
	uint32* origin;
	ptrdiff_t xStep;
	ptrdiff_t yStep;
};

bool IsAligned(const void* address, size_t alignment)
{
	return reinterpret_cast<uintptr_t>(address) % alignment == 0;
}

#ifdef PIXEL_REMAP_WIDE
// As MoveWords() and MoveWordsReversed() below, 64 bytes a step, for processors with AVX-512.
__attribute__((target("avx512f"))) void MoveWordsWide(uint32* destination, const uint32* source,
                                                      size_t count, bool reversed, bool streaming)
{
	const __m512i kReversed =
	    _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
	ptrdiff_t direction = reversed ? -1 : 1;
	// Word by word until the destination's next group of 16 starts on a 64-byte boundary.
	auto aligned = [&] { return IsAligned(reversed ? destination - 15 : destination, 64); };
	for (; count > 0 && !aligned(); count--, destination += direction)
		*destination = *source++;
	for (; count >= 16; count -= 16, destination += 16 * direction, source += 16) {
		__m512i words = _mm512_loadu_si512(source);
		uint32* lowest = destination;
		if (reversed) {
			words = _mm512_maskz_permutexvar_epi32(0xffff, kReversed, words);
			lowest = destination - 15;
		}
		if (streaming)
			_mm512_stream_si512(reinterpret_cast<__m512i*>(lowest), words);
		else
			_mm512_store_si512(lowest, words);
	}
	for (; count > 0; count--, destination += direction)
		*destination = *source++;
}
#endif

// Copies `count` words forward. Streaming stores write around the caches.
void MoveWords(uint32* destination, const uint32* source, size_t count, bool streaming)
{
#ifdef __SSE2__
	if (streaming) {
		for (; count > 0 && !IsAligned(destination, 16); count--)
			*destination++ = *source++;
		for (; count >= 4; count -= 4, destination += 4, source += 4) {
			__m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
			_mm_stream_si128(reinterpret_cast<__m128i*>(destination), words);
		}
	}
#endif
	memcpy(destination, source, count * 4);
}

// Copies `count` words so that source[i] lands at destination[-i].
void MoveWordsReversed(uint32* destination, const uint32* source, size_t count, bool streaming)
{
#ifdef __SSE2__
	// Four words at a time, each group stored at the aligned address of its lowest word.
	for (; count > 0 && !IsAligned(destination + 1, 16); count--)
		*destination-- = *source++;
	for (; count >= 4; count -= 4, destination -= 4, source += 4) {
		__m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
		words = _mm_shuffle_epi32(words, _MM_SHUFFLE(0, 1, 2, 3));
		__m128i* lowest = reinterpret_cast<__m128i*>(destination - 3);
		if (streaming)
			_mm_stream_si128(lowest, words);
		else
			_mm_store_si128(lowest, words);
	}
#else
	(void)streaming;
#endif
	for (; count > 0; count--)
		*destination-- = *source++;
}

void EndStreaming(bool streaming)
{
#ifdef __SSE2__
	// Streaming stores are weakly ordered: make them visible before the caller sees the result.
	if (streaming)
		_mm_sfence();
#else
	(void)streaming;
#endif
}

// Rows stay rows, each either kept in order (xStep 1) or reversed (xStep -1).
void MoveRows(const BitmapDrawer& from, const WordPlacement& to, int32 width, int32 height,
              bool streaming)
{
	// Rows kept in order and without gaps on both sides: the image is one run of words, which
	// the C library copies fastest.
	if (to.xStep == 1 && to.yStep == width && from.rowLength == width) {
		memcpy(to.origin, from.bits, (size_t)width * height * 4);
		return;
	}
#ifdef PIXEL_REMAP_WIDE
	// With 64-byte steps one row at a time, start to end, keeps up with the memory best.
	if (__builtin_cpu_supports("avx512f")) {
		for (int32 y = 0; y < height; y++) {
			MoveWordsWide(to.origin + y * to.yStep, from.bits + (ptrdiff_t)y * from.rowLength,
			              width, to.xStep != 1, streaming);
		}
		EndStreaming(streaming);
		return;
	}
#endif
	for (int32 y0 = 0; y0 < height; y0 += kRowsAtOnce) {
		int32 y1 = std::min(height, y0 + kRowsAtOnce);
		for (int32 x = 0; x < width; x += kChunkWords) {
			size_t count = std::min(width - x, kChunkWords);
			for (int32 y = y0; y < y1; y++) {
				const uint32* source = from.bits + (ptrdiff_t)y * from.rowLength + x;
				uint32* destination = to.origin + y * to.yStep + x * to.xStep;
				if (to.xStep == 1)
					MoveWords(destination, source, count, streaming);
				else
					MoveWordsReversed(destination, source, count, streaming);
			}
		}
	}
	EndStreaming(streaming);
}

// Writes the 4 x 4 words whose rows start `step` words apart at `source` into `tile`,
// transposed: source row j, column i lands at tile[i * kTileSize + j].
void TransposeBlock(const uint32* source, ptrdiff_t step, uint32* tile)
{
#ifdef __SSE2__
	__m128i row0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
	__m128i row1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + step));
	__m128i row2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * step));
	__m128i row3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * step));
	__m128i low01 = _mm_unpacklo_epi32(row0, row1);
	__m128i high01 = _mm_unpackhi_epi32(row0, row1);
	__m128i low23 = _mm_unpacklo_epi32(row2, row3);
	__m128i high23 = _mm_unpackhi_epi32(row2, row3);
	_mm_storeu_si128(reinterpret_cast<__m128i*>(tile), _mm_unpacklo_epi64(low01, low23));
	_mm_storeu_si128(reinterpret_cast<__m128i*>(tile + kTileSize),
	                 _mm_unpackhi_epi64(low01, low23));
	_mm_storeu_si128(reinterpret_cast<__m128i*>(tile + 2 * kTileSize),
	                 _mm_unpacklo_epi64(high01, high23));
	_mm_storeu_si128(reinterpret_cast<__m128i*>(tile + 3 * kTileSize),
	                 _mm_unpackhi_epi64(high01, high23));
#else
	for (int32 j = 0; j < 4; j++) {
		for (int32 i = 0; i < 4; i++)
			tile[i * kTileSize + j] = source[j * step + i];
	}
#endif
}

// Moves the source pixels of columns x0 to x1 - 1 and rows y0 to y1 - 1, at most a tile, when
// rows become columns (yStep is 1 or -1). The block is transposed into a buffer that stays in
// the cache first, so that each source column goes out as one run of words.
void MoveTile(const BitmapDrawer& from, const WordPlacement& to, int32 x0, int32 x1, int32 y0,
              int32 y1, bool streaming)
{
	// Row i of the tile holds source column x0 + i in the order the destination takes it.
	alignas(16) uint32 tile[kTileSize * kTileSize];
	int32 columns = x1 - x0;
	int32 rows = y1 - y0;
	int32 first = to.yStep > 0 ? y0 : y1 - 1;
	ptrdiff_t step = to.yStep > 0 ? from.rowLength : -(ptrdiff_t)from.rowLength;
	const uint32* corner = from.bits + (ptrdiff_t)first * from.rowLength + x0;

	int32 fullRows = rows / 4 * 4;
	int32 fullColumns = columns / 4 * 4;
	for (int32 j = 0; j < fullRows; j += 4) {
		for (int32 i = 0; i < fullColumns; i += 4)
			TransposeBlock(corner + j * step + i, step, tile + i * kTileSize + j);
	}
	// The ragged right and bottom edges, word by word.
	for (int32 j = 0; j < rows; j++) {
		for (int32 i = j < fullRows ? fullColumns : 0; i < columns; i++)
			tile[i * kTileSize + j] = corner[j * step + i];
	}

	for (int32 i = 0; i < columns; i++) {
		uint32* destination = to.origin + (x0 + i) * to.xStep + first * to.yStep;
		MoveWords(destination, tile + i * kTileSize, rows, streaming);
	}
}

#ifdef PIXEL_REMAP_WIDE
// Blocks of 16 x 16 words, transposed in sixteen 512-bit registers.
const int32 kBlockSize = 16;
// Blocks of a band of rows taken down one column of blocks before moving on: each destination
// row then gets kBandBlocks * 64 consecutive bytes in a row, in whole cache lines.
const int32 kBandBlocks = 64;

// Transposes the 16 x 16 words whose rows start `step` words apart at `source`, and writes the
// transposed row i (source column i) at destination + i * rowStep, 64 bytes each.
__attribute__((target("avx512f"))) inline void
MoveBlock(const uint32* source, ptrdiff_t step, uint32* destination, ptrdiff_t rowStep, bool stream)
{
	__m512i r[16];
	for (int32 j = 0; j < 16; j++)
		r[j] = _mm512_loadu_si512(source + j * step);
	// Pairs of rows interleaved word by word, then pairs of pairs: each 128-bit lane L of u[4g
	// + k] then holds column 4L + k of rows 4g to 4g + 3. (The zero-masking forms keeping every
	// lane are the plain instructions; GCC 12 takes the plain forms' undefined operand for an
	// uninitialised value and warns.)
	__m512i t[16];
	for (int32 j = 0; j < 16; j += 2) {
		t[j] = _mm512_maskz_unpacklo_epi32(0xffff, r[j], r[j + 1]);
		t[j + 1] = _mm512_maskz_unpackhi_epi32(0xffff, r[j], r[j + 1]);
	}
	__m512i u[16];
	for (int32 g = 0; g < 16; g += 4) {
		u[g] = _mm512_maskz_unpacklo_epi64(0xff, t[g], t[g + 2]);
		u[g + 1] = _mm512_maskz_unpackhi_epi64(0xff, t[g], t[g + 2]);
		u[g + 2] = _mm512_maskz_unpacklo_epi64(0xff, t[g + 1], t[g + 3]);
		u[g + 3] = _mm512_maskz_unpackhi_epi64(0xff, t[g + 1], t[g + 3]);
	}
	// Column 4L + k gathers lane L of u[k], u[4 + k], u[8 + k] and u[12 + k].
	for (int32 k = 0; k < 4; k++) {
		__m512i low01 = _mm512_maskz_shuffle_i32x4(0xffff, u[k], u[4 + k], 0x44);
		__m512i high01 = _mm512_maskz_shuffle_i32x4(0xffff, u[k], u[4 + k], 0xee);
		__m512i low23 = _mm512_maskz_shuffle_i32x4(0xffff, u[8 + k], u[12 + k], 0x44);
		__m512i high23 = _mm512_maskz_shuffle_i32x4(0xffff, u[8 + k], u[12 + k], 0xee);
		__m512i columns[4] = {_mm512_maskz_shuffle_i32x4(0xffff, low01, low23, 0x88),
		                      _mm512_maskz_shuffle_i32x4(0xffff, low01, low23, 0xdd),
		                      _mm512_maskz_shuffle_i32x4(0xffff, high01, high23, 0x88),
		                      _mm512_maskz_shuffle_i32x4(0xffff, high01, high23, 0xdd)};
		for (int32 L = 0; L < 4; L++) {
			uint32* out = destination + (4 * L + k) * rowStep;
			if (stream)
				_mm512_stream_si512(reinterpret_cast<__m512i*>(out), columns[L]);
			else
				_mm512_storeu_si512(out, columns[L]);
		}
	}
}

// Moves the part of the image made of whole 16 x 16 blocks, rows becoming columns; returns the
// columns and rows it covered, from the top left corner.
__attribute__((target("avx512f"))) void MoveBlocks(const BitmapDrawer& from,
                                                   const WordPlacement& to, int32 width,
                                                   int32 height, bool streaming, int32& columns,
                                                   int32& rows)
{
	columns = width / kBlockSize * kBlockSize;
	rows = height / kBlockSize * kBlockSize;
	for (int32 y0 = 0; y0 < rows; y0 += kBlockSize * kBandBlocks) {
		int32 y1 = std::min(rows, y0 + kBlockSize * kBandBlocks);
		for (int32 x0 = 0; x0 < columns; x0 += kBlockSize) {
			for (int32 y = y0; y < y1; y += kBlockSize) {
				int32 first = to.yStep > 0 ? y : y + kBlockSize - 1;
				ptrdiff_t step = to.yStep > 0 ? from.rowLength : -(ptrdiff_t)from.rowLength;
				uint32* destination = to.origin + x0 * to.xStep + first * to.yStep;
				bool stream = streaming && IsAligned(destination, 64) &&
				              IsAligned(destination + to.xStep, 64);
				MoveBlock(from.bits + (ptrdiff_t)first * from.rowLength + x0, step, destination,
				          to.xStep, stream);
			}
		}
	}
}
#endif

// Rows become columns. Walked tile by tile along each band of source rows: the source is read
// along its rows, which the processor fetches ahead by itself, and each tile goes out as runs
// of up to kTileSize words along the destination rows.
void MoveTiles(const BitmapDrawer& from, const WordPlacement& to, int32 width, int32 height,
               bool streaming)
{
	assert(to.yStep == 1 || to.yStep == -1);
#ifdef PIXEL_REMAP_WIDE
	if (__builtin_cpu_supports("avx512f")) {
		int32 columns, rows;
		MoveBlocks(from, to, width, height, streaming, columns, rows);
		// The ragged right edge and bottom band go tile by tile.
		for (int32 y0 = 0; y0 < height; y0 += kTileSize) {
			int32 y1 = std::min(height, y0 + kTileSize);
			for (int32 x0 = 0; x0 < width; x0 += kTileSize) {
				int32 x1 = std::min(width, x0 + kTileSize);
				if (y1 <= rows && x1 <= columns)
					continue;
				// Tiles straddling the covered part redo some of it: the same words again.
				MoveTile(from, to, x0, x1, y0, y1, streaming);
			}
		}
		EndStreaming(streaming);
		return;
	}
#endif
	for (int32 y0 = 0; y0 < height; y0 += kTileSize) {
		int32 y1 = std::min(height, y0 + kTileSize);
		for (int32 x0 = 0; x0 < width; x0 += kTileSize)
			MoveTile(from, to, x0, std::min(width, x0 + kTileSize), y0, y1, streaming);
	}
	EndStreaming(streaming);
}

#ifndef NDEBUG
bool LandsInside(const PixelPlacement& p, int32 x, int32 y, int32 width, int32 height)
{
	int64 column = (int64)p.xFromX * x + (int64)p.xFromY * y + p.xOffset;
	int64 row = (int64)p.yFromX * x + (int64)p.yFromY * y + p.yOffset;
	return column >= 0 && column < width && row >= 0 && row < height;
}
#endif

} // namespace

BBitmap* RemapPixels(BBitmap* source, BRect destinationBounds, const PixelPlacement& placement)
{
	// Every source pixel lands on one destination pixel, and the bounds match: all are written.
	BBitmap* destination = CreateAccessorDestination(source, destinationBounds, true);
	if (destination == NULL)
		return NULL;

	BitmapDrawer from(source);
	BitmapDrawer to(destination);
	BRect bounds = source->Bounds();
	int32 width = bounds.IntegerWidth() + 1;
	int32 height = bounds.IntegerHeight() + 1;

#ifndef NDEBUG
	int32 destinationWidth = destinationBounds.IntegerWidth() + 1;
	int32 destinationHeight = destinationBounds.IntegerHeight() + 1;
	for (int32 corner = 0; corner < 4; corner++) {
		assert(LandsInside(placement, corner & 1 ? width - 1 : 0, corner & 2 ? height - 1 : 0,
		                   destinationWidth, destinationHeight));
	}
#endif

	WordPlacement words;
	words.origin = to.bits + (ptrdiff_t)placement.yOffset * to.rowLength + placement.xOffset;
	words.xStep = (ptrdiff_t)placement.yFromX * to.rowLength + placement.xFromX;
	words.yStep = (ptrdiff_t)placement.yFromY * to.rowLength + placement.xFromY;

	bool streaming = (size_t)width * height * 4 >= kStreamingBytes;
	if (words.xStep == 1 || words.xStep == -1)
		MoveRows(from, words, width, height, streaming);
	else
		MoveTiles(from, words, width, height, streaming);
	return destination;
}
