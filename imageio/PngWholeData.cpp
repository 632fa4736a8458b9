#include "PngWholeData.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include "PngRowFilter.h"

namespace {

const uint8 kImageDataType[4] = {'I', 'D', 'A', 'T'};
// Chunk lengths are below 2^31.
const uint32 kMaxChunkLength = 0x7fffffff;
// Chunk data are read in pieces of this at most, so that a file that claims more than it holds
// fails for being short before much is allocated.
const size_t kReadPiece = 1024 * 1024;

uint32 BigEndian32(const uint8* bytes)
{
	return (uint32)bytes[0] << 24 | (uint32)bytes[1] << 16 | (uint32)bytes[2] << 8 | bytes[3];
}

size_t Channels(int colorType)
{
	switch (colorType) {
	case PNG_COLOR_TYPE_GRAY:
		return 1;
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		return 2;
	case PNG_COLOR_TYPE_RGB:
		return 3;
	}
	return 0;
}

// A growing buffer that leaves its new bytes as they are: they are read over at once.
class Buffer {
public:
	Buffer(size_t capacity) : fData(new uint8[capacity]), fSize(0), fCapacity(capacity) {}

	uint8* Data() const { return fData.get(); }
	size_t Size() const { return fSize; }

	uint8* Extend(size_t size)
	{
		if (size > fCapacity - fSize) {
			size_t capacity = std::max(fCapacity * 2, fSize + size);
			std::unique_ptr<uint8[]> data(new uint8[capacity]);
			memcpy(data.get(), fData.get(), fSize);
			fData = std::move(data);
			fCapacity = capacity;
		}
		fSize += size;
		return fData.get() + fSize - size;
	}

private:
	std::unique_ptr<uint8[]> fData;
	size_t fSize;
	size_t fCapacity;
};

// Appends the data of the IDAT chunks in a row to `data`, at most `limit` bytes, each chunk's CRC
// checked, and leaves the header of the chunk after them in `next`.
bool GatherImageData(const PngFileReader& read, uint32 length, size_t limit, Buffer& data,
                     uint8 next[8], std::string& error)
{
	for (;;) {
		if (length > kMaxChunkLength) {
			error = "damaged PNG data (IDAT: bad length)";
			return false;
		}
		if (length > limit - data.Size()) {
			error = "damaged PNG data (IDAT: too much image data)";
			return false;
		}
		uLong crc = crc32(0, kImageDataType, 4);
		for (size_t done = 0; done < length;) {
			size_t piece = std::min<size_t>(kReadPiece, length - done);
			uint8* at = data.Extend(piece);
			if (!read(at, piece, error))
				return false;
			crc = crc32_z(crc, at, piece);
			done += piece;
		}
		uint8 stored[4];
		if (!read(stored, sizeof(stored), error))
			return false;
		if (BigEndian32(stored) != crc) {
			error = "damaged PNG data (IDAT: CRC error)";
			return false;
		}
		if (!read(next, 8, error))
			return false;
		if (memcmp(next + 4, kImageDataType, 4) != 0)
			return true;
		length = BigEndian32(next);
	}
}

// Undoes the filter of `type` on `row`, given the row above unfiltered (zeros above the first).
bool Unfilter(uint8 type, uint8* row, const uint8* above, size_t count, size_t channels)
{
	size_t first = std::min(channels, count);
	switch (type) {
	case kPngNone:
		return true;
	case kPngSub:
		for (size_t i = first; i < count; i++)
			row[i] += row[i - channels];
		return true;
	case kPngUp:
		for (size_t i = 0; i < count; i++)
			row[i] += above[i];
		return true;
	case kPngAverage:
		for (size_t i = 0; i < first; i++)
			row[i] += above[i] >> 1;
		for (size_t i = first; i < count; i++)
			row[i] += (row[i - channels] + above[i]) >> 1;
		return true;
	case kPngPaeth:
		for (size_t i = 0; i < first; i++)
			row[i] += above[i];
		for (size_t i = first; i < count; i++)
			row[i] += PngPaethPredictor(row[i - channels], above[i], above[i - channels]);
		return true;
	}
	return false;
}

// Spreads a row of the file to blue, green, red and alpha, 255 where the file has none.
void Expand(const uint8* row, size_t width, int colorType, uint8* out)
{
	switch (colorType) {
	case PNG_COLOR_TYPE_GRAY:
		for (size_t x = 0; x < width; x++) {
			out[x * 4] = out[x * 4 + 1] = out[x * 4 + 2] = row[x];
			out[x * 4 + 3] = 255;
		}
		break;
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		for (size_t x = 0; x < width; x++) {
			out[x * 4] = out[x * 4 + 1] = out[x * 4 + 2] = row[x * 2];
			out[x * 4 + 3] = row[x * 2 + 1];
		}
		break;
	case PNG_COLOR_TYPE_RGB:
		for (size_t x = 0; x < width; x++) {
			out[x * 4] = row[x * 3 + 2];
			out[x * 4 + 1] = row[x * 3 + 1];
			out[x * 4 + 2] = row[x * 3];
			out[x * 4 + 3] = 255;
		}
		break;
	}
}

struct FreeInflater {
	void operator()(libdeflate_decompressor* inflater) const
	{
		libdeflate_free_decompressor(inflater);
	}
};

// Inflates the zlib stream `data` to exactly `out`, `size` bytes, nothing left over.
bool Inflate(const Buffer& data, uint8* out, size_t size, std::string& error)
{
	std::unique_ptr<libdeflate_decompressor, FreeInflater> inflater(
	    libdeflate_alloc_decompressor());
	if (inflater == NULL) {
		error = "not enough memory to read PNG";
		return false;
	}
	size_t used = 0;
	switch (libdeflate_zlib_decompress_ex(inflater.get(), data.Data(), data.Size(), out, size,
	                                      &used, NULL)) {
	case LIBDEFLATE_SUCCESS:
		if (used == data.Size())
			return true;
		error = "damaged PNG data (IDAT: extra compressed data)";
		return false;
	case LIBDEFLATE_SHORT_OUTPUT:
		error = "damaged PNG data (IDAT: not enough image data)";
		return false;
	case LIBDEFLATE_INSUFFICIENT_SPACE:
		error = "damaged PNG data (IDAT: too much image data)";
		return false;
	default:
		error = "damaged PNG data (IDAT: bad compressed data)";
		return false;
	}
}

} // namespace

// The filtered rows are inflated into the end of the bitmap's memory and spread from its start:
// with at least one byte more a row in the bitmap than in the file, row y, spread, ends before
// the filtered row y + 1 begins.
bool CanReadPngWholeData(int colorType, int bitDepth, bool interlaced, bool transparency,
                         const BBitmap& bitmap)
{
	size_t channels = Channels(colorType);
	if (channels == 0 || bitDepth != 8 || interlaced || transparency)
		return false;
	size_t width = bitmap.Bounds().IntegerWidth() + 1;
	size_t height = bitmap.Bounds().IntegerHeight() + 1;
	size_t bytesPerRow = bitmap.BytesPerRow();
	return bytesPerRow >= width * 4 && bytesPerRow >= width * channels + 1 &&
	       (size_t)bitmap.BitsLength() >= bytesPerRow * height;
}

bool ReadPngWholeData(const PngFileReader& read, uint32 length, size_t fileLeft, int colorType,
                      BBitmap& bitmap, uint8 next[8], std::string& error)
{
	size_t channels = Channels(colorType);
	size_t width = bitmap.Bounds().IntegerWidth() + 1;
	size_t height = bitmap.Bounds().IntegerHeight() + 1;
	size_t rowBytes = width * channels;
	size_t filteredSize = (rowBytes + 1) * height;

	// Deflate's stored blocks take five bytes for 65535; twice the data leave room for any
	// encoder.
	size_t limit = filteredSize * 2 + kReadPiece;
	std::unique_ptr<Buffer> data;
	try {
		data.reset(new Buffer(std::min(limit, std::max(fileLeft, kReadPiece))));
		if (!GatherImageData(read, length, limit, *data, next, error))
			return false;
	} catch (const std::bad_alloc&) {
		error = "not enough memory to read PNG";
		return false;
	}

	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	size_t bytesPerRow = bitmap.BytesPerRow();
	uint8* filtered = bits + bytesPerRow * height - filteredSize;
	if (!Inflate(*data, filtered, filteredSize, error))
		return false;
	data.reset();

	std::vector<uint8> row(rowBytes);
	std::vector<uint8> above(rowBytes, 0);
	for (size_t y = 0; y < height; y++) {
		const uint8* in = filtered + y * (rowBytes + 1);
		memcpy(row.data(), in + 1, rowBytes);
		if (!Unfilter(in[0], row.data(), above.data(), rowBytes, channels)) {
			error = "damaged PNG data (bad adaptive filter value)";
			return false;
		}
		Expand(row.data(), width, colorType, bits + y * bytesPerRow);
		row.swap(above);
	}
	return true;
}
