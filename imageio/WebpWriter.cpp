// Writing 32-bit bitmaps as lossy or lossless WebP files through libwebp, with the colour
// profile, EXIF and XMP data in their own chunks, and IPTC as the XMP that mirrors it.
#include "ImageCodecs.h"
#include "Metadata.h"

#include <cerrno>
#include <cstring>

#include <webp/encode.h>
#include <webp/mux.h>

namespace {

// WebP stores each side in 14 bits.
const int32 kMaxSide = 16383;
// A RIFF file counts its size in 32 bits; what the metadata add to the image must leave room
// for the headers.
const uint64 kMaxFileSize = 0xffffffffu - 1024;
// Lossless effort, 0 to 9. On a noisy 6000 x 4000 picture, 3 came within 0.2% of the size of
// the library's usual 6 in about a third of the time (8 s against 22 s); below 3, files were a
// quarter larger.
const int kLosslessLevel = 3;

// Where the encoder's output goes when no metadata are to be added: straight to the file.
struct FileOutput {
	FILE* file;
	int error;
};

int WriteToFile(const uint8_t* data, size_t size, const WebPPicture* picture)
{
	FileOutput* output = static_cast<FileOutput*>(picture->custom_ptr);
	if (size == 0 || fwrite(data, 1, size, output->file) == size)
		return 1;
	output->error = errno != 0 ? errno : EIO;
	return 0;
}

class Picture {
public:
	Picture() : fValid(WebPPictureInit(&fPicture) != 0) {}
	~Picture() { WebPPictureFree(&fPicture); }

	bool IsValid() const { return fValid; }
	WebPPicture* Get() { return &fPicture; }

private:
	WebPPicture fPicture;
	bool fValid;
};

class MemoryOutput {
public:
	MemoryOutput() { WebPMemoryWriterInit(&fWriter); }
	~MemoryOutput() { WebPMemoryWriterClear(&fWriter); }

	WebPMemoryWriter* Get() { return &fWriter; }

private:
	WebPMemoryWriter fWriter;
};

class Mux {
public:
	Mux() : fMux(WebPMuxNew()) {}
	~Mux() { WebPMuxDelete(fMux); }

	WebPMux* Get() const { return fMux; }

private:
	WebPMux* fMux;
};

// Hands the bitmap's pixels to the picture. Lossy pictures are converted to YUV as they are
// imported, in one pass. The lossless encoder reads 32-bit ARGB words, which on a little-endian
// machine are laid out as B_RGBA32 is: it reads the bitmap's own memory, which it does not
// change as long as it keeps transparent pixels exact. B_RGB32 is imported with alpha 255
// whatever its fourth bytes hold.
bool ImportPixels(const BBitmap& bitmap, bool lossless, WebPPicture* picture)
{
	picture->width = bitmap.Bounds().IntegerWidth() + 1;
	picture->height = bitmap.Bounds().IntegerHeight() + 1;
	picture->use_argb = lossless;
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	bool hasAlpha = bitmap.ColorSpace() == B_RGBA32;
	if (lossless && hasAlpha && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
		picture->argb = reinterpret_cast<uint32_t*>(const_cast<uint8*>(bits));
		picture->argb_stride = bitmap.BytesPerRow() / 4;
		return true;
	}
	if (hasAlpha)
		return WebPPictureImportBGRA(picture, bits, bitmap.BytesPerRow()) != 0;
	return WebPPictureImportBGRX(picture, bits, bitmap.BytesPerRow()) != 0;
}

std::string EncodingError(WebPEncodingError code)
{
	switch (code) {
	case VP8_ENC_ERROR_OUT_OF_MEMORY:
	case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
		return "not enough memory to encode WebP";
	case VP8_ENC_ERROR_BAD_DIMENSION:
		return "cannot encode WebP (bad dimensions)";
	case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
	case VP8_ENC_ERROR_PARTITION_OVERFLOW:
		return "cannot encode WebP (a partition is too large; try a lower quality)";
	case VP8_ENC_ERROR_FILE_TOO_BIG:
		return "cannot encode WebP (the file would be larger than 4 GiB)";
	default:
		return "cannot encode WebP (error " + std::to_string((int)code) + ")";
	}
}

bool HasMetadata(const ImageMetadata* metadata)
{
	return metadata != NULL && (!metadata->iccProfile.empty() || !metadata->exif.empty() ||
	                            !metadata->xmp.empty() || !metadata->iptc.empty());
}

bool AddChunk(WebPMux* mux, const char fourcc[4], const uint8* data, size_t size)
{
	if (size == 0)
		return true;
	WebPData chunk = {data, size};
	return WebPMuxSetChunk(mux, fourcc, &chunk, 0) == WEBP_MUX_OK;
}

bool WriteBytes(FILE* file, const uint8* data, size_t size, std::string& error)
{
	if (fwrite(data, 1, size, file) == size)
		return true;
	error = std::string("cannot write: ") + strerror(errno);
	return false;
}

// Puts the encoded image and the metadata together in an extended file (a VP8X header, then
// the ICCP chunk, the image, the EXIF and XMP chunks) and writes it. EXIF goes in as the TIFF
// structure, without JPEG's "Exif\0\0"; IPTC, which WebP has no chunk for, as the XMP that
// mirrors it.
bool WriteWithMetadata(const WebPMemoryWriter& image, const ImageMetadata& metadata, FILE* file,
                       std::string& error)
{
	std::string packet = XmpWithIptc(metadata.xmp, metadata.iptc);
	uint64 total =
	    (uint64)image.size + metadata.iccProfile.size() + metadata.exif.size() + packet.size();
	if (total > kMaxFileSize) {
		error = "the metadata make the file too large for WebP";
		return false;
	}
	Mux mux;
	WebPData bitstream = {image.mem, image.size};
	const uint8* xmp = reinterpret_cast<const uint8*>(packet.data());
	if (mux.Get() == NULL || WebPMuxSetImage(mux.Get(), &bitstream, 0) != WEBP_MUX_OK ||
	    !AddChunk(mux.Get(), "ICCP", metadata.iccProfile.data(), metadata.iccProfile.size()) ||
	    !AddChunk(mux.Get(), "EXIF", metadata.exif.data(), metadata.exif.size()) ||
	    !AddChunk(mux.Get(), "XMP ", xmp, packet.size())) {
		error = "not enough memory to add the metadata to WebP";
		return false;
	}
	WebPData assembled;
	WebPDataInit(&assembled);
	if (WebPMuxAssemble(mux.Get(), &assembled) != WEBP_MUX_OK) {
		WebPDataClear(&assembled);
		error = "not enough memory to add the metadata to WebP";
		return false;
	}
	bool written = WriteBytes(file, assembled.bytes, assembled.size, error);
	WebPDataClear(&assembled);
	return written;
}

} // namespace

bool WriteWebp(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	if (width > kMaxSide || height > kMaxSide) {
		error = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
		        " pixels, more than the " + std::to_string(kMaxSide) +
		        " pixels a side WebP can hold";
		return false;
	}

	WebPConfig config;
	if (!WebPConfigInit(&config)) {
		error = "cannot encode WebP (libwebp version mismatch)";
		return false;
	}
	if (options.lossless) {
		WebPConfigLosslessPreset(&config, kLosslessLevel);
		// Colours under transparent pixels are kept too: the file gives back the bitmap.
		config.exact = 1;
	} else {
		config.quality = QualityFor(options, 80);
	}
	config.thread_level = 1;

	Picture picture;
	if (!picture.IsValid() || !ImportPixels(bitmap, options.lossless, picture.Get())) {
		error = "not enough memory to encode WebP";
		return false;
	}
	MemoryOutput memory;
	FileOutput direct = {file, 0};
	bool withMetadata = HasMetadata(metadata);
	if (withMetadata) {
		picture.Get()->writer = WebPMemoryWrite;
		picture.Get()->custom_ptr = memory.Get();
	} else {
		picture.Get()->writer = WriteToFile;
		picture.Get()->custom_ptr = &direct;
	}
	if (!WebPEncode(&config, picture.Get())) {
		if (direct.error != 0)
			error = std::string("cannot write: ") + strerror(direct.error);
		else
			error = EncodingError(picture.Get()->error_code);
		return false;
	}
	if (withMetadata)
		return WriteWithMetadata(*memory.Get(), *metadata, file, error);
	return true;
}
