// Reading lossy, lossless and animated WebP files into 32-bit bitmaps through libwebp: the
// demuxer takes the container apart, the decoder writes the pixels straight into the bitmap.
#include "ImageCodecs.h"

#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "Metadata.h"
#include "Orientation.h"

namespace {

// "RIFF", the size of what follows, "WEBP".
const size_t kRiffHeaderSize = 12;

uint32 LittleEndian32(const uint8* bytes)
{
	return (uint32)bytes[0] | (uint32)bytes[1] << 8 | (uint32)bytes[2] << 16 |
	       (uint32)bytes[3] << 24;
}

class Demuxer {
public:
	Demuxer(const uint8* data, size_t size)
	{
		WebPData webpData = {data, size};
		fDemuxer = WebPDemux(&webpData);
	}
	~Demuxer() { WebPDemuxDelete(fDemuxer); }

	WebPDemuxer* Get() const { return fDemuxer; }

private:
	WebPDemuxer* fDemuxer;
};

// The first frame of a demuxed file; released before its demuxer is deleted.
class FirstFrame {
public:
	FirstFrame(WebPDemuxer* demuxer) : fFound(WebPDemuxGetFrame(demuxer, 1, &fFrame) != 0) {}
	~FirstFrame() { WebPDemuxReleaseIterator(&fFrame); }

	bool Found() const { return fFound; }
	const WebPIterator& Get() const { return fFrame; }

private:
	WebPIterator fFrame;
	bool fFound;
};

// Copies the payload of the first chunk of type `fourcc` the demuxer kept to `payload`; returns
// whether there was one. The demuxer keeps metadata chunks only when the VP8X header announces
// them.
template <typename Bytes> bool CopyChunk(WebPDemuxer* demuxer, const char fourcc[4], Bytes& payload)
{
	WebPChunkIterator chunk;
	bool found = WebPDemuxGetChunk(demuxer, fourcc, 1, &chunk) != 0;
	if (found)
		payload.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
	WebPDemuxReleaseChunkIterator(&chunk);
	return found;
}

void ReadMetadata(WebPDemuxer* demuxer, ImageMetadata& metadata)
{
	CopyChunk(demuxer, "ICCP", metadata.iccProfile);
	CopyChunk(demuxer, "XMP ", metadata.xmp);
	// The EXIF chunk holds the TIFF structure itself, but some writers put JPEG's "Exif\0\0"
	// in front.
	std::vector<uint8> exif;
	if (CopyChunk(demuxer, "EXIF", exif)) {
		metadata.exif = ExifWithoutHeader(exif.data(), exif.size());
		metadata.orientation = ExifOrientation(metadata.exif.data(), metadata.exif.size());
	}
}

std::string DecodingError(VP8StatusCode status)
{
	switch (status) {
	case VP8_STATUS_OUT_OF_MEMORY:
		return "not enough memory to decode WebP data";
	case VP8_STATUS_NOT_ENOUGH_DATA:
		return "truncated WebP data";
	case VP8_STATUS_UNSUPPORTED_FEATURE:
		return "unsupported WebP data (a feature libwebp does not know)";
	case VP8_STATUS_INVALID_PARAM:
		// The only parameter that comes from the file is the size the bitstream gives, which
		// the output buffer, made for the size in the container, does not fit.
		return "damaged WebP data (the image is not the size its container gives)";
	default:
		return "damaged WebP data (bitstream error)";
	}
}

// Decodes the image of `frame` into `bitmap` at the frame's place, in the bitmap's own memory.
bool DecodeFrame(const WebPIterator& frame, BBitmap& bitmap, std::string& error)
{
	WebPDecoderConfig config;
	if (!WebPInitDecoderConfig(&config)) {
		error = "cannot decode WebP (libwebp version mismatch)";
		return false;
	}
	// Lossy images filter their rows on a second thread while the next ones are decoded.
	config.options.use_threads = 1;
	size_t stride = bitmap.BytesPerRow();
	WebPDecBuffer& output = config.output;
	output.colorspace = MODE_BGRA;
	output.is_external_memory = 1;
	output.u.RGBA.rgba = static_cast<uint8*>(bitmap.Bits()) + (size_t)frame.y_offset * stride +
	                     (size_t)frame.x_offset * 4;
	output.u.RGBA.stride = (int)stride;
	// From the frame's first pixel to its last: libwebp checks the image fits in this.
	output.u.RGBA.size = stride * (frame.height - 1) + (size_t)frame.width * 4;
	VP8StatusCode status = WebPDecode(frame.fragment.bytes, frame.fragment.size, &config);
	WebPFreeDecBuffer(&output);
	if (status != VP8_STATUS_OK) {
		error = DecodingError(status);
		return false;
	}
	return true;
}

// A lossless image says in its header whether it uses alpha, but its pixels carry alpha
// regardless; one that says it does not gets what the bitmap's colour space promises.
void MakeOpaque(BBitmap& bitmap)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	for (int32 y = 0; y < height; y++) {
		uint8* row = bits + (size_t)y * bitmap.BytesPerRow();
		for (int32 x = 0; x < width; x++)
			row[(size_t)x * 4 + 3] = 255;
	}
}

} // namespace

std::unique_ptr<BBitmap> ReadWebp(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata)
{
	if (size < kRiffHeaderSize || memcmp(data, "RIFF", 4) != 0 ||
	    memcmp(data + 8, "WEBP", 4) != 0) {
		error = "damaged WebP data (no RIFF header)";
		return NULL;
	}
	// The demuxer refuses a file shorter than its RIFF header says without telling why; a
	// file cut short is the common case and is named as such.
	if (LittleEndian32(data + 4) > size - 8) {
		error = "truncated WebP data";
		return NULL;
	}
	Demuxer demuxer(data, size);
	if (demuxer.Get() == NULL) {
		error = "damaged WebP data (its chunks do not make a valid file)";
		return NULL;
	}

	// The demuxer has checked that every frame lies within the canvas and that a still image
	// fills it; the first frame is checked again here, since its pixels are written where
	// these numbers say.
	uint32 canvasWidth = WebPDemuxGetI(demuxer.Get(), WEBP_FF_CANVAS_WIDTH);
	uint32 canvasHeight = WebPDemuxGetI(demuxer.Get(), WEBP_FF_CANVAS_HEIGHT);
	uint32 frameCount = WebPDemuxGetI(demuxer.Get(), WEBP_FF_FRAME_COUNT);
	FirstFrame first(demuxer.Get());
	if (!first.Found()) {
		error = "damaged WebP data (no image)";
		return NULL;
	}
	const WebPIterator& frame = first.Get();
	if (!frame.complete) {
		error = "truncated WebP data";
		return NULL;
	}
	if (frame.width <= 0 || frame.height <= 0 || frame.x_offset < 0 || frame.y_offset < 0 ||
	    (uint32)frame.x_offset + (uint32)frame.width > canvasWidth ||
	    (uint32)frame.y_offset + (uint32)frame.height > canvasHeight) {
		error = "damaged WebP data (the first frame lies outside the canvas)";
		return NULL;
	}

	// The first frame of an animation is shown on a transparent canvas, which shows through
	// where the frame does not cover it: new pixel memory is zero, transparent black.
	bool coversCanvas = (uint32)frame.width == canvasWidth && (uint32)frame.height == canvasHeight;
	bool hasAlpha = frame.has_alpha || !coversCanvas;
	std::unique_ptr<BBitmap> bitmap =
	    CreateImageBitmap(canvasWidth, canvasHeight, hasAlpha, limits, error);
	if (bitmap == NULL)
		return NULL;
	if (!DecodeFrame(frame, *bitmap, error))
		return NULL;
	if (!hasAlpha && frame.fragment.size >= 4 && memcmp(frame.fragment.bytes, "VP8L", 4) == 0)
		MakeOpaque(*bitmap);

	if (metadata != NULL) {
		ReadMetadata(demuxer.Get(), *metadata);
		if (frameCount > 1)
			metadata->notes.push_back("the first of " + std::to_string(frameCount) + " frames");
	}
	return bitmap;
}
