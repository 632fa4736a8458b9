// The image data of a PNG file, what its IDAT chunks hold: the rows of a bitmap filtered and
// deflated in strips on several threads at once, joined into one zlib stream.
#ifndef PNG_IMAGE_DATA_H
#define PNG_IMAGE_DATA_H

#include <functional>
#include <string>

#include <Bitmap.h>

// How the pixels of a B_RGB32 or B_RGBA32 bitmap are stored: grey keeps the first byte of each
// pixel, alpha the fourth.
enum class PngPixels { kGrey, kGreyAlpha, kRgb, kRgba };

// Receives the stream in order, one IDAT chunk's data a call; returns false to stop.
typedef std::function<bool(const uint8* data, size_t size)> PngDataSink;

// The most threads worth starting for one image.
const int kPngMaxThreads = 8;

// The threads the machine offers, at most kPngMaxThreads.
int PngThreadCount();

// Filters every row of `bitmap` as `pixels` with the filter that leaves the smallest values, and
// deflates the rows at zlib level `compression` (1 matches runs only, 2 to 9 are zlib's levels)
// in strips on `threads` threads, the caller's included. Each strip is deflated on its own and
// ends on a byte boundary, so that the strips join into one zlib stream; the bytes are the same
// whatever the number of threads. Returns false when the sink refused, with `error` untouched
// (the sink knows why), or when zlib or memory failed, with `error` set.
bool WritePngImageData(const BBitmap& bitmap, PngPixels pixels, int compression, int threads,
                       const PngDataSink& sink, std::string& error);

#endif // PNG_IMAGE_DATA_H
