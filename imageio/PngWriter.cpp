// Writing 32-bit bitmaps as 8-bit RGB or RGBA PNG files through libpng.
#include "ImageCodecs.h"
#include "Metadata.h"
#include "PngImageData.h"
#include "PngRawProfile.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace {

// What the libpng callbacks share; plain data only, because libpng leaves a failing call
// through longjmp.
struct PngOutput {
	FILE* file;
	char message[256];
};

[[noreturn]] void HandleError(png_structp png, png_const_charp message)
{
	PngOutput* output = static_cast<PngOutput*>(png_get_error_ptr(png));
	if (output->message[0] == '\0')
		snprintf(output->message, sizeof(output->message), "cannot encode PNG (%s)", message);
	png_longjmp(png, 1);
}

void HandleWarning(png_structp, png_const_charp)
{
}

void WriteData(png_structp png, png_bytep data, size_t length)
{
	PngOutput* output = static_cast<PngOutput*>(png_get_io_ptr(png));
	if (fwrite(data, 1, length, output->file) == length)
		return;
	snprintf(output->message, sizeof(output->message), "cannot write: %s", strerror(errno));
	png_error(png, output->message);
}

// The caller flushes and syncs the whole file once it is complete.
void FlushData(png_structp)
{
}

// Writes grey pictures as grey, which takes a third of the room and is what the picture is.
bool IsGrey(const BBitmap& bitmap)
{
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	size_t count = (size_t)bitmap.BitsLength() / 4;
	for (size_t i = 0; i < count; i++) {
		const uint8* pixel = bits + i * 4;
		if (pixel[0] != pixel[1] || pixel[1] != pixel[2])
			return false;
	}
	return true;
}

const png_byte kProfileChunk[] = "iCCP";
const png_byte kExifChunk[] = "eXIf";

// Text chunks of this size or more are compressed.
const size_t kCompressedTextSize = 1024;

// What of `metadata` goes in PNG chunks besides the profile: EXIF as eXIf, XMP as the iTXt chunk
// readers look for, the other text as it was read, the resolution as pHYs. IPTC, which PNG has
// no chunk for, goes in the raw profile text that exiv2 and ImageMagick write and read: Photoshop's
// image resources holding it, made by IptcText().
void SetMetadata(png_structp png, png_infop info, const ImageMetadata& metadata,
                 const std::string& iptcText, std::vector<png_text>& texts)
{
	if (!metadata.exif.empty()) {
		png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kExifChunk, 1);
		png_unknown_chunk chunk;
		memcpy(chunk.name, kExifChunk, sizeof(chunk.name));
		chunk.data = const_cast<png_bytep>(metadata.exif.data());
		chunk.size = metadata.exif.size();
		chunk.location = PNG_HAVE_IHDR;
		png_set_unknown_chunks(png, info, &chunk, 1);
	}
	auto add = [&texts](const char* keyword, const std::string& text, bool utf8) {
		png_text chunk = {};
		bool compressed = text.size() >= kCompressedTextSize;
		chunk.compression =
		    utf8 ? (compressed ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE)
		         : (compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE);
		chunk.key = const_cast<char*>(keyword);
		chunk.text = const_cast<char*>(text.c_str());
		if (utf8)
			chunk.itxt_length = text.size();
		else
			chunk.text_length = text.size();
		texts.push_back(chunk);
	};
	// XMP is left uncompressed, as its standard asks, so that readers can find it in place.
	if (!metadata.xmp.empty()) {
		png_text chunk = {};
		chunk.compression = PNG_ITXT_COMPRESSION_NONE;
		chunk.key = const_cast<char*>("XML:com.adobe.xmp");
		chunk.text = const_cast<char*>(metadata.xmp.c_str());
		chunk.itxt_length = metadata.xmp.size();
		texts.push_back(chunk);
	}
	for (const ImageMetadata::Text& text : metadata.texts)
		add(text.keyword.c_str(), text.text, text.utf8);
	if (!iptcText.empty())
		add(kRawIptcKeyword, iptcText, false);
	if (!texts.empty())
		png_set_text(png, info, texts.data(), (int)texts.size());

	const ImageMetadata::Resolution& resolution = metadata.resolution;
	double perMetre = 1;
	switch (resolution.unit) {
	case ImageMetadata::Resolution::kNone:
		return;
	case ImageMetadata::Resolution::kAspectOnly:
	case ImageMetadata::Resolution::kMetre:
		break;
	case ImageMetadata::Resolution::kInch:
		perMetre = 1 / 0.0254;
		break;
	case ImageMetadata::Resolution::kCentimetre:
		perMetre = 100;
		break;
	}
	auto count = [perMetre](double value) {
		double scaled = value * perMetre + 0.5;
		return (png_uint_32)(scaled < 1 ? 1 : scaled > 0x7fffffff ? 0x7fffffff : scaled);
	};
	png_set_pHYs(png, info, count(resolution.x), count(resolution.y),
	             resolution.unit == ImageMetadata::Resolution::kAspectOnly ? PNG_RESOLUTION_UNKNOWN
	                                                                       : PNG_RESOLUTION_METER);
}

// The iCCP chunk's data for `profile`: a name, its NUL, the compression method 0 and the
// deflated profile. Empty when there is no profile or it cannot be deflated.
std::vector<uint8> ProfileChunk(const std::vector<uint8>& profile)
{
	static const char kName[] = "ICC Profile";
	if (profile.empty())
		return {};
	uLongf size = compressBound(profile.size());
	std::vector<uint8> chunk(sizeof(kName) + 1 + size);
	memcpy(chunk.data(), kName, sizeof(kName));
	chunk[sizeof(kName)] = 0;
	if (compress2(chunk.data() + sizeof(kName) + 1, &size, profile.data(), profile.size(),
	              Z_BEST_COMPRESSION) != Z_OK)
		return {};
	chunk.resize(sizeof(kName) + 1 + size);
	return chunk;
}

// The raw profile text that holds `iptc` in PNG; empty when there is none.
std::string IptcText(const std::vector<uint8>& iptc)
{
	if (iptc.empty())
		return std::string();
	return RawProfileText("iptc", PhotoshopResourcesOfIptc(iptc));
}

// The header and every chunk that goes before the image data. The iCCP chunk's data, when there
// are any, are written as they are: libpng would judge the profile otherwise.
bool WriteHeader(png_structp png, png_infop info, const BBitmap* bitmap, PngPixels pixels,
                 const std::vector<uint8>* profileChunk, const ImageMetadata* metadata,
                 const std::string* iptcText, std::vector<png_text>* texts)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	uint32 width = bitmap->Bounds().IntegerWidth() + 1;
	uint32 height = bitmap->Bounds().IntegerHeight() + 1;
	int colorType = pixels == PngPixels::kGrey        ? PNG_COLOR_TYPE_GRAY
	                : pixels == PngPixels::kGreyAlpha ? PNG_COLOR_TYPE_GRAY_ALPHA
	                : pixels == PngPixels::kRgb       ? PNG_COLOR_TYPE_RGB
	                                                  : PNG_COLOR_TYPE_RGB_ALPHA;
	png_set_IHDR(png, info, width, height, 8, colorType, PNG_INTERLACE_NONE,
	             PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	if (!profileChunk->empty()) {
		png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kProfileChunk, 1);
		png_unknown_chunk chunk;
		memcpy(chunk.name, kProfileChunk, sizeof(chunk.name));
		chunk.data = const_cast<png_bytep>(profileChunk->data());
		chunk.size = profileChunk->size();
		chunk.location = PNG_HAVE_IHDR;
		png_set_unknown_chunks(png, info, &chunk, 1);
	}
	if (metadata != NULL)
		SetMetadata(png, info, *metadata, *iptcText, *texts);
	png_write_info(png, info);
	return true;
}

// The rows unfiltered in stored deflate blocks, written by libpng row by row. `greyRow` has room
// for two bytes a pixel.
bool WriteStoredRows(png_structp png, const BBitmap* bitmap, PngPixels pixels, uint8* greyRow)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
	png_set_compression_level(png, 0);

	bool grey = pixels == PngPixels::kGrey || pixels == PngPixels::kGreyAlpha;
	bool hasAlpha = pixels == PngPixels::kGreyAlpha || pixels == PngPixels::kRgba;
	if (!grey) {
		png_set_bgr(png);
		if (!hasAlpha)
			png_set_filler(png, 0, PNG_FILLER_AFTER);
	}
	uint32 width = bitmap->Bounds().IntegerWidth() + 1;
	uint32 height = bitmap->Bounds().IntegerHeight() + 1;
	const uint8* bits = static_cast<const uint8*>(bitmap->Bits());
	for (uint32 y = 0; y < height; y++) {
		const uint8* row = bits + (size_t)y * bitmap->BytesPerRow();
		if (grey) {
			uint8* out = greyRow;
			for (uint32 x = 0; x < width; x++) {
				*out++ = row[x * 4];
				if (hasAlpha)
					*out++ = row[x * 4 + 3];
			}
			row = greyRow;
		}
		// libpng copies each row before it transforms it; the bitmap stays untouched.
		png_write_row(png, const_cast<uint8*>(row));
	}
	png_write_end(png, NULL);
	return true;
}

const png_byte kImageDataChunk[] = "IDAT";
const png_byte kEndChunk[] = "IEND";

// Writes one chunk through libpng, which frames it and sums its CRC.
bool WriteChunk(png_structp png, const png_byte* name, const uint8* data, size_t size)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	png_write_chunk(png, name, data, size);
	return true;
}

// Filtered and deflated rows, made on every processor and written as IDAT chunks, then the end.
// libpng did not write the image data itself, so png_write_end would refuse: every chunk it
// would write after the image data was written before, and IEND is written here.
bool WriteDeflatedRows(png_structp png, const BBitmap& bitmap, PngPixels pixels, int compression,
                       std::string& error)
{
	PngDataSink sink = [png](const uint8* data, size_t size) {
		return WriteChunk(png, kImageDataChunk, data, size);
	};
	if (!WritePngImageData(bitmap, pixels, compression, PngThreadCount(), sink, error))
		return false;
	return WriteChunk(png, kEndChunk, NULL, 0);
}

class PngWriteStruct {
public:
	PngWriteStruct(PngOutput* output)
	{
		fPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, output, HandleError, HandleWarning);
		fInfo = fPng != NULL ? png_create_info_struct(fPng) : NULL;
		if (fInfo != NULL)
			png_set_write_fn(fPng, output, WriteData, FlushData);
	}
	~PngWriteStruct() { png_destroy_write_struct(&fPng, &fInfo); }

	png_structp Png() const { return fPng; }
	png_infop Info() const { return fInfo; }

private:
	png_structp fPng;
	png_infop fInfo;
};

} // namespace

bool WritePng(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
              const ImageMetadata* metadata, std::string& error)
{
	std::vector<uint8> profileChunk;
	std::string iptcText;
	if (metadata != NULL) {
		profileChunk = ProfileChunk(metadata->iccProfile);
		iptcText = IptcText(metadata->iptc);
	}
	// Made here, out of the way of libpng's longjmp, which would skip its destructor.
	std::vector<png_text> texts;
	PngOutput output = {file, ""};
	PngWriteStruct writer(&output);
	if (writer.Info() == NULL) {
		error = "not enough memory to write PNG";
		return false;
	}
	bool hasAlpha = bitmap.ColorSpace() == B_RGBA32;
	PngPixels pixels = IsGrey(bitmap) ? (hasAlpha ? PngPixels::kGreyAlpha : PngPixels::kGrey)
	                                  : (hasAlpha ? PngPixels::kRgba : PngPixels::kRgb);
	if (!WriteHeader(writer.Png(), writer.Info(), &bitmap, pixels, &profileChunk, metadata,
	                 &iptcText, &texts)) {
		error = output.message;
		return false;
	}
	bool written;
	if (options.pngCompression == 0) {
		std::vector<uint8> greyRow((size_t)(bitmap.Bounds().IntegerWidth() + 1) * 2);
		written = WriteStoredRows(writer.Png(), &bitmap, pixels, greyRow.data());
	} else {
		written = WriteDeflatedRows(writer.Png(), bitmap, pixels, options.pngCompression, error);
	}
	if (!written && error.empty())
		error = output.message;
	return written;
}
