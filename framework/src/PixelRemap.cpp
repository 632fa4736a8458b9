#include <PixelRemap.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <AccessorDomain.h>
#include <BitmapDrawer.h>

namespace {

// Square tiles of this many pixels a side keep both the source rows and the destination rows a
// transposing placement touches in the first-level cache.
const int32 kTileSize = 64;

// A placement turned into word offsets within the destination's pixel memory: source pixel
// (x, y) goes to origin + x * xStep + y * yStep.
struct WordPlacement {
	uint32* origin;
	ptrdiff_t xStep;
	ptrdiff_t yStep;
};

// Destinations from this size on are far larger than the caches: they are written with
// streaming stores, which skip reading each destination line before overwriting it.
const size_t kStreamingBytes = 8 << 20;

// Copies `count` words to memory that is not read again soon.
void
StreamWords(uint32* destination, const uint32* source, size_t count)
{
#ifdef __SSE2__
	while (count > 0 && reinterpret_cast<uintptr_t>(destination) % 16 != 0) {
		*destination++ = *source++;
		count--;
	}
	for (; count >= 4; count -= 4, destination += 4, source += 4) {
		__m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
		_mm_stream_si128(reinterpret_cast<__m128i*>(destination), words);
	}
	while (count-- > 0)
		*destination++ = *source++;
#else
	memcpy(destination, source, count * 4);
#endif
}

// Rows stay rows and keep their order within: each row is one block copy.
void
CopyRows(const BitmapDrawer& from, const WordPlacement& to, int32 width, int32 height)
{
	bool streaming = (size_t)width * height * 4 >= kStreamingBytes;
	for (int32 y = 0; y < height; y++) {
		uint32* destination = to.origin + y * to.yStep;
		const uint32* source = from.bits + (ptrdiff_t)y * from.rowLength;
		if (streaming)
			StreamWords(destination, source, width);
		else
			memcpy(destination, source, (size_t)width * 4);
	}
#ifdef __SSE2__
	if (streaming)
		_mm_sfence();
#endif
}

// Rows stay rows, each reversed.
void
ReverseRows(const BitmapDrawer& from, const WordPlacement& to, int32 width, int32 height)
{
	for (int32 y = 0; y < height; y++) {
		const uint32* source = from.bits + (ptrdiff_t)y * from.rowLength;
		uint32* destination = to.origin + y * to.yStep;
		for (int32 x = 0; x < width; x++)
			destination[-x] = source[x];
	}
}

// Rows become columns. Walked tile by tile, so that the destination lines written for one source
// row are still cached when the next row writes the word beside each.
void
TransposeTiles(const BitmapDrawer& from, const WordPlacement& to, int32 width, int32 height)
{
	for (int32 y0 = 0; y0 < height; y0 += kTileSize) {
		int32 yEnd = std::min(height, y0 + kTileSize);
		for (int32 x0 = 0; x0 < width; x0 += kTileSize) {
			int32 xEnd = std::min(width, x0 + kTileSize);
			for (int32 y = y0; y < yEnd; y++) {
				const uint32* source = from.bits + (ptrdiff_t)y * from.rowLength;
				uint32* destination = to.origin + y * to.yStep;
				for (int32 x = x0; x < xEnd; x++)
					destination[x * to.xStep] = source[x];
			}
		}
	}
}

#ifndef NDEBUG
bool
LandsInside(const PixelPlacement& p, int32 x, int32 y, int32 width, int32 height)
{
	int64 column = (int64)p.xFromX * x + (int64)p.xFromY * y + p.xOffset;
	int64 row = (int64)p.yFromX * x + (int64)p.yFromY * y + p.yOffset;
	return column >= 0 && column < width && row >= 0 && row < height;
}
#endif

} // namespace

BBitmap*
RemapPixels(BBitmap* source, BRect destinationBounds, const PixelPlacement& placement)
{
	BBitmap* destination = CreateAccessorDestination(source, destinationBounds);
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

	if (words.xStep == 1)
		CopyRows(from, words, width, height);
	else if (words.xStep == -1)
		ReverseRows(from, words, width, height);
	else
		TransposeTiles(from, words, width, height);
	return destination;
}
