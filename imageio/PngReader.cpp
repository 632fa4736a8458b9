// Reading PNG files of every kind (1 to 16 bits, grey, palette, colour, alpha, interlaced) into
// 32-bit bitmaps through libpng.
#include "ImageCodecs.h"
#include "Orientation.h"
#include "PngRawProfile.h"
#include "PngWholeData.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include <png.h>
#include <zlib.h>

namespace {

// Everything libpng allocates for the chunks it keeps (text, ICC profile, sPLT and the like,
// decompressed text included) must fit in this, beside what decoding the rows needs. A file
// that asks for more fails at once, before anything large is allocated or read.
const size_t kMetadataBudget = 16 * 1024 * 1024;
// libpng's own state, its zlib stream and a few rows of the widest image allowed.
const size_t kDecoderBudget = 1024 * 1024;
const size_t kRowBudgetsPerSide = 4 * 8;

// What the libpng callbacks share. libpng leaves a failing call through longjmp, so everything
// that lives in a function calling setjmp is plain data without destructors.
struct PngInput {
	FILE* file;
	char message[256];
	// libpng's memory: bytes allocated now, and the most it may have.
	size_t memoryUsed;
	size_t memoryBudget;
	bool memoryExceeded;
	// The last eight bytes libpng read at once: after the header chunks, the first IDAT chunk's
	// length and type.
	uint8 lastHeader[8];
	// Bytes read from the file already, which libpng is given first.
	uint8 pending[8];
	size_t pendingSize;
};

// Each block carries its size in front, so that freeing it can give the bytes back.
const size_t kBlockHeader = alignof(std::max_align_t);

png_voidp Allocate(png_structp png, png_alloc_size_t size)
{
	PngInput* input = static_cast<PngInput*>(png_get_mem_ptr(png));
	if (size > input->memoryBudget - input->memoryUsed) {
		input->memoryExceeded = true;
		return NULL;
	}
	uint8* block = static_cast<uint8*>(malloc(kBlockHeader + size));
	if (block == NULL)
		return NULL;
	memcpy(block, &size, sizeof(size));
	input->memoryUsed += size;
	return block + kBlockHeader;
}

void Free(png_structp png, png_voidp pointer)
{
	if (pointer == NULL)
		return;
	PngInput* input = static_cast<PngInput*>(png_get_mem_ptr(png));
	uint8* block = static_cast<uint8*>(pointer) - kBlockHeader;
	png_alloc_size_t size;
	memcpy(&size, block, sizeof(size));
	input->memoryUsed -= size;
	free(block);
}

struct PngHeader {
	uint32 width;
	uint32 height;
	int colorType;
	int bitDepth;
	bool hasAlpha;
	bool interlaced;
	bool transparency;
};

[[noreturn]] void HandleError(png_structp png, png_const_charp message)
{
	PngInput* input = static_cast<PngInput*>(png_get_error_ptr(png));
	if (input->memoryExceeded) {
		snprintf(input->message, sizeof(input->message),
		         "its metadata chunks need more than the %zu MiB allowed (%s)",
		         kMetadataBudget / (1024 * 1024), message);
	}
	if (input->message[0] == '\0')
		snprintf(input->message, sizeof(input->message), "damaged PNG data (%s)", message);
	png_longjmp(png, 1);
}

// Warnings concern ancillary chunks that libpng has already skipped; the pixels are sound.
void HandleWarning(png_structp, png_const_charp)
{
}

// Reads exactly `length` bytes, the pending ones first; sets the message when it cannot.
bool ReadInput(PngInput* input, uint8* data, size_t length)
{
	size_t pending = std::min(length, input->pendingSize);
	memcpy(data, input->pending, pending);
	memmove(input->pending, input->pending + pending, input->pendingSize - pending);
	input->pendingSize -= pending;
	if (fread(data + pending, 1, length - pending, input->file) == length - pending)
		return true;
	if (ferror(input->file))
		snprintf(input->message, sizeof(input->message), "cannot read: %s", strerror(errno));
	else
		snprintf(input->message, sizeof(input->message), "truncated PNG data");
	return false;
}

void ReadData(png_structp png, png_bytep data, size_t length)
{
	PngInput* input = static_cast<PngInput*>(png_get_io_ptr(png));
	if (!ReadInput(input, data, length))
		png_error(png, input->message);
	if (length == sizeof(input->lastHeader))
		memcpy(input->lastHeader, data, length);
}

bool ReadHeader(png_structp png, png_infop info, PngHeader* header)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	png_read_info(png, info);
	header->width = png_get_image_width(png, info);
	header->height = png_get_image_height(png, info);
	header->colorType = png_get_color_type(png, info);
	header->bitDepth = png_get_bit_depth(png, info);
	header->transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
	header->hasAlpha = (header->colorType & PNG_COLOR_MASK_ALPHA) != 0 || header->transparency;
	header->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
	return true;
}

// Asks libpng for four bytes a pixel in memory order blue, green, red, alpha (255 when the image
// has none). Palette images are left as one index byte a pixel: ExpandPalette checks each index
// against the palette, which libpng would silently map to black.
void SetUpTransforms(png_structp png, png_infop info, const PngHeader& header)
{
	int bitDepth = png_get_bit_depth(png, info);
	if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
		png_set_packing(png);
	} else {
		if (header.colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
			png_set_expand_gray_1_2_4_to_8(png);
		if (png_get_valid(png, info, PNG_INFO_tRNS))
			png_set_tRNS_to_alpha(png);
		if (bitDepth == 16)
			png_set_scale_16(png);
		if ((header.colorType & PNG_COLOR_MASK_COLOR) == 0)
			png_set_gray_to_rgb(png);
		png_set_bgr(png);
		if (!header.hasAlpha)
			png_set_filler(png, 0xff, PNG_FILLER_AFTER);
	}
	png_set_interlace_handling(png);
}

bool ReadRows(png_structp png, png_infop info, const PngHeader* header, png_bytepp rows,
              size_t rowBytes)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	SetUpTransforms(png, info, *header);
	png_read_update_info(png, info);
	if (png_get_rowbytes(png, info) != rowBytes)
		png_error(png, "unexpected row layout");
	png_read_image(png, rows);
	// The chunks after the image data (text, EXIF) join those before it.
	png_read_end(png, info);
	return true;
}

// The chunks after the image data, which the caller has read itself: libpng is told to pass
// over image data, so that it does not look for the rest of the stream it never read.
bool ReadEnd(png_structp png, png_infop info)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	static const png_byte kImageDataChunk[] = "IDAT";
	png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kImageDataChunk, 1);
	png_read_end(png, info);
	return true;
}

// The bytes after the position of a regular file; 0 for other streams.
size_t FileLeft(FILE* file)
{
	struct stat status;
	long position = ftell(file);
	if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || position < 0 ||
	    status.st_size < position)
		return 0;
	return (size_t)(status.st_size - position);
}

// Reads the image data in one piece (see PngWholeData.h), then the chunks after them with
// libpng. The header libpng read last is the first IDAT chunk's.
bool ReadWhole(png_structp png, png_infop info, PngInput* input, const PngHeader& header,
               BBitmap& bitmap, std::string& error)
{
	PngFileReader read = [input](uint8* data, size_t size, std::string& readError) {
		if (ReadInput(input, data, size))
			return true;
		readError = input->message;
		return false;
	};
	const uint8* length = input->lastHeader;
	assert(memcmp(length + 4, "IDAT", 4) == 0);
	if (!ReadPngWholeData(read,
	                      (uint32)length[0] << 24 | (uint32)length[1] << 16 |
	                          (uint32)length[2] << 8 | length[3],
	                      FileLeft(input->file), header.colorType, bitmap, input->pending, error))
		return false;
	input->pendingSize = sizeof(input->pending);
	if (ReadEnd(png, info))
		return true;
	error = input->message;
	return false;
}

// Each row holds its indexes in its last quarter. Expanding from the left, pixel x writes bytes
// 4x to 4x + 3, all before index x + 1 at 3 * width + x + 1: no index is overwritten unread.
bool ExpandPalette(png_structp png, png_infop info, BBitmap& bitmap, std::string& error)
{
	png_colorp palette = NULL;
	int paletteSize = 0;
	png_get_PLTE(png, info, &palette, &paletteSize);
	png_bytep transparency = NULL;
	int transparencySize = 0;
	if (png_get_valid(png, info, PNG_INFO_tRNS))
		png_get_tRNS(png, info, &transparency, &transparencySize, NULL);

	uint8 words[256][4];
	for (int i = 0; i < paletteSize; i++) {
		words[i][0] = palette[i].blue;
		words[i][1] = palette[i].green;
		words[i][2] = palette[i].red;
		words[i][3] = i < transparencySize ? transparency[i] : 255;
	}

	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	for (int32 y = 0; y < height; y++) {
		uint8* row = bits + (size_t)y * bitmap.BytesPerRow();
		const uint8* indexes = row + (size_t)width * 3;
		for (int32 x = 0; x < width; x++) {
			int index = indexes[x];
			if (index >= paletteSize) {
				error = "palette index " + std::to_string(index) + " at (" + std::to_string(x) +
				        ", " + std::to_string(y) + ") is past the end of the " +
				        std::to_string(paletteSize) + "-colour palette";
				return false;
			}
			memcpy(row + (size_t)x * 4, words[index], 4);
		}
	}
	return true;
}

// Inflates a zlib stream of at most kMetadataBudget bytes into `out`; leaves it empty when the
// stream is damaged or unpacks to more.
void InflateProfile(const uint8* data, size_t size, std::vector<uint8>& out)
{
	out.clear();
	z_stream stream = {};
	if (inflateInit(&stream) != Z_OK)
		return;
	stream.next_in = const_cast<uint8*>(data);
	stream.avail_in = (uInt)size;
	uint8 buffer[65536];
	int result = Z_OK;
	while (result == Z_OK) {
		stream.next_out = buffer;
		stream.avail_out = sizeof(buffer);
		result = inflate(&stream, Z_NO_FLUSH);
		size_t produced = sizeof(buffer) - stream.avail_out;
		if ((result != Z_OK && result != Z_STREAM_END) || out.size() + produced > kMetadataBudget) {
			out.clear();
			break;
		}
		out.insert(out.end(), buffer, buffer + produced);
		if (result == Z_OK && produced == 0 && stream.avail_in == 0) {
			out.clear();
			break;
		}
	}
	inflateEnd(&stream);
}

const png_byte kProfileChunk[] = "iCCP";
const png_byte kExifChunk[] = "eXIf";
const png_byte kAnimationChunk[] = "acTL";
const char kXmpKeyword[] = "XML:com.adobe.xmp";

// The EXIF data of the eXIf chunk (its payload is the TIFF structure itself), the frame count of
// an animated PNG's acTL chunk, and the XMP, the EXIF, IPTC and XMP raw profiles and other text
// of the text chunks. The eXIf chunk, read first, wins over an EXIF raw profile.
void ReadChunks(png_structp png, png_infop info, ImageMetadata& metadata)
{
	png_unknown_chunkp chunks = NULL;
	int count = png_get_unknown_chunks(png, info, &chunks);
	for (int i = 0; i < count; i++) {
		if (memcmp(chunks[i].name, kExifChunk, 4) == 0 && metadata.exif.empty()) {
			metadata.exif.assign(chunks[i].data, chunks[i].data + chunks[i].size);
			metadata.orientation = ExifOrientation(chunks[i].data, chunks[i].size);
		} else if (memcmp(chunks[i].name, kAnimationChunk, 4) == 0 && chunks[i].size >= 4) {
			const uint8* frames = chunks[i].data;
			uint32 count = (uint32)frames[0] << 24 | (uint32)frames[1] << 16 |
			               (uint32)frames[2] << 8 | frames[3];
			metadata.notes.push_back("an animation: only its still image is read, not its " +
			                         std::to_string(count) + " frames");
		}
	}
	png_textp texts = NULL;
	int textCount = png_get_text(png, info, &texts, NULL);
	auto isUtf8 = [](const png_text& text) {
		return text.compression == PNG_ITXT_COMPRESSION_NONE ||
		       text.compression == PNG_ITXT_COMPRESSION_zTXt;
	};
	auto textOf = [&](const png_text& text) {
		return std::string(text.text != NULL ? text.text : "",
		                   isUtf8(text) ? text.itxt_length : text.text_length);
	};
	// The XMP chunk, wherever it stands, wins over an XMP raw profile; a second one is dropped.
	for (int i = 0; i < textCount && metadata.xmp.empty(); i++) {
		if (strcmp(texts[i].key, kXmpKeyword) == 0)
			metadata.xmp = textOf(texts[i]);
	}
	for (int i = 0; i < textCount; i++) {
		if (strcmp(texts[i].key, kXmpKeyword) == 0)
			continue;
		std::string text = textOf(texts[i]);
		if (!TakeRawProfile(texts[i].key, text, metadata))
			metadata.texts.push_back({texts[i].key, text, isUtf8(texts[i])});
	}
	png_uint_32 x = 0;
	png_uint_32 y = 0;
	int unit = 0;
	if (png_get_pHYs(png, info, &x, &y, &unit) && x != 0 && y != 0) {
		metadata.resolution.unit = unit == PNG_RESOLUTION_METER
		                               ? ImageMetadata::Resolution::kMetre
		                               : ImageMetadata::Resolution::kAspectOnly;
		metadata.resolution.x = x;
		metadata.resolution.y = y;
	}
}

// The ICC profile of an iCCP chunk kept as it was stored: a name, its NUL, the compression
// method (0) and the deflated profile, unpacked here to at most the metadata budget. A damaged
// chunk gives no profile; the pixels do not depend on it.
void ReadProfile(png_structp png, png_infop info, std::vector<uint8>& profile)
{
	png_unknown_chunkp chunks = NULL;
	int count = png_get_unknown_chunks(png, info, &chunks);
	for (int i = 0; i < count; i++) {
		if (memcmp(chunks[i].name, kProfileChunk, 4) != 0)
			continue;
		const uint8* data = chunks[i].data;
		size_t size = chunks[i].size;
		const uint8* end = static_cast<const uint8*>(memchr(data, 0, std::min<size_t>(size, 80)));
		if (end == NULL || (size_t)(end - data) + 2 > size || end[1] != 0)
			return;
		const uint8* deflated = end + 2;
		size_t deflatedSize = size - (deflated - data);
		InflateProfile(deflated, deflatedSize, profile);
		return;
	}
}

class PngReadStruct {
public:
	PngReadStruct(PngInput* input)
	{
		fPng = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, input, HandleError, HandleWarning,
		                                input, Allocate, Free);
		fInfo = fPng != NULL ? png_create_info_struct(fPng) : NULL;
		if (fInfo == NULL)
			return;
		png_set_read_fn(fPng, input, ReadData);
		// What libpng would let pass as a warning is an error here: above all a chunk it could
		// not allocate, which it would otherwise skip by reading all the bytes it claims.
		png_set_benign_errors(fPng, 0);
		png_set_chunk_malloc_max(fPng, kMetadataBudget);
		// The colour-space chunks are not used (the filters work on the stored values), so
		// libpng need not judge them: it calls common profiles "known incorrect", which as an
		// error would refuse many a sound photograph. They are passed over unread, but for the
		// ICC profile, which is kept as it is stored, to go into the files written.
		static const png_byte kColourSpaceChunks[] = "cHRM\0gAMA\0sRGB\0";
		png_set_keep_unknown_chunks(fPng, PNG_HANDLE_CHUNK_NEVER, kColourSpaceChunks, 3);
		png_set_keep_unknown_chunks(fPng, PNG_HANDLE_CHUNK_ALWAYS, kProfileChunk, 1);
		// EXIF data too are kept as stored, and an animation's control chunk is looked at.
		png_set_keep_unknown_chunks(fPng, PNG_HANDLE_CHUNK_ALWAYS, kExifChunk, 1);
		png_set_keep_unknown_chunks(fPng, PNG_HANDLE_CHUNK_ALWAYS, kAnimationChunk, 1);
	}
	~PngReadStruct() { png_destroy_read_struct(&fPng, &fInfo, NULL); }

	png_structp Png() const { return fPng; }
	png_infop Info() const { return fInfo; }

private:
	png_structp fPng;
	png_infop fInfo;
};

// Reads the rows with libpng, which unpacks, expands and orders the samples as SetUpTransforms
// asks.
bool ReadRowByRow(png_structp png, png_infop info, const PngHeader& header, BBitmap& bitmap,
                  std::string& error, const PngInput& input)
{
	bool palette = header.colorType == PNG_COLOR_TYPE_PALETTE;
	size_t rowBytes = (size_t)header.width * (palette ? 1 : 4);
	size_t rowOffset = palette ? (size_t)header.width * 3 : 0;
	std::vector<png_bytep> rows(header.height);
	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	for (uint32 y = 0; y < header.height; y++)
		rows[y] = bits + (size_t)y * bitmap.BytesPerRow() + rowOffset;
	if (ReadRows(png, info, &header, rows.data(), rowBytes))
		return true;
	error = input.message;
	return false;
}

} // namespace

std::unique_ptr<BBitmap> ReadPng(FILE* file, const ImageLimits& limits, std::string& error,
                                 ImageMetadata* metadata)
{
	PngInput input = {file, "", 0, 0, false, {}, {}, 0};
	input.memoryBudget =
	    kMetadataBudget + kDecoderBudget + (size_t)limits.maxSide * kRowBudgetsPerSide;
	PngReadStruct reader(&input);
	if (reader.Info() == NULL) {
		error = "not enough memory to read PNG";
		return NULL;
	}

	PngHeader header;
	if (!ReadHeader(reader.Png(), reader.Info(), &header)) {
		error = input.message;
		return NULL;
	}
	std::unique_ptr<BBitmap> bitmap =
	    CreateImageBitmap(header.width, header.height, header.hasAlpha, limits, error);
	if (bitmap == NULL)
		return NULL;

	bool palette = header.colorType == PNG_COLOR_TYPE_PALETTE;
	if (CanReadPngWholeData(header.colorType, header.bitDepth, header.interlaced,
	                        header.transparency, *bitmap)) {
		if (!ReadWhole(reader.Png(), reader.Info(), &input, header, *bitmap, error))
			return NULL;
	} else if (!ReadRowByRow(reader.Png(), reader.Info(), header, *bitmap, error, input)) {
		return NULL;
	}
	if (palette && !ExpandPalette(reader.Png(), reader.Info(), *bitmap, error))
		return NULL;
	if (metadata != NULL) {
		ReadProfile(reader.Png(), reader.Info(), metadata->iccProfile);
		ReadChunks(reader.Png(), reader.Info(), *metadata);
		if (header.bitDepth == 16)
			metadata->notes.push_back("16-bit channels reduced to 8 bits");
	}
	return bitmap;
}
