// Reading the image data of a plain 8-bit PNG in one piece: the IDAT chunks gathered and their
// CRCs checked, the zlib stream inflated at once with libdeflate into the bitmap's own memory,
// and the rows unfiltered and spread to four bytes a pixel in place.
#ifndef PNG_WHOLE_DATA_H
#define PNG_WHOLE_DATA_H

#include <functional>
#include <string>

#include <Bitmap.h>

// Reads exactly `size` bytes of the file into `data`, or returns false with `error` set.
typedef std::function<bool(uint8* data, size_t size, std::string& error)> PngFileReader;

// Whether ReadPngWholeData reads images of this kind into `bitmap`: 8-bit grey, grey with alpha
// or RGB, not interlaced, without a transparent colour, whose image data fit in its memory.
bool CanReadPngWholeData(int colorType, int bitDepth, bool interlaced, bool transparency,
                         const BBitmap& bitmap);

// Reads the IDAT chunks that follow through `read`; the first one's data are `length` bytes long
// and come next. `fileLeft`, the bytes left in the file when known and 0 otherwise, sizes the
// buffer the image data are gathered in. Fills `bitmap` with the pixels, blue, green, red and alpha
// (255 without alpha), and leaves in `next` the header (length and type) of the chunk after the
// image data, which is read already. Returns false with `error` set when the data are damaged or
// cut short.
bool ReadPngWholeData(const PngFileReader& read, uint32 length, size_t fileLeft, int colorType,
                      BBitmap& bitmap, uint8 next[8], std::string& error);

#endif // PNG_WHOLE_DATA_H
