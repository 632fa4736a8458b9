#include "Av1Decoder.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <dav1d/dav1d.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <SupportDefs.h>

namespace {

// Above the priority of libheif's own AV1 decoders (dav1d 150, aom 100), so that this one is
// chosen.
const int kPriority = 200;

// dav1d's largest frame, as libheif sets it for its own: the image's size has been checked
// against the caller's limits before, from the file's header.
const unsigned kFrameSizeLimit = 32768u * 32768u;

// A picture may come only after dav1d has been asked again once all data are in: the first call
// without data sets it draining.
const int kDrainingCalls = 2;

struct Decoder {
	std::vector<uint8> data;
	bool strict = false;
};

heif_error Success()
{
	return {heif_error_Ok, heif_suberror_Unspecified, ""};
}

// libheif's reader says the rest: the message a decoder plugin gives is no more than that it
// failed.
heif_error Failure()
{
	return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, ""};
}

heif_error NoMemory()
{
	return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, ""};
}

// Owns what dav1d hands out: the context, the data not yet taken and the picture.
class Dav1dSession {
public:
	Dav1dSession() : fContext(NULL), fData(), fPicture() {}
	~Dav1dSession()
	{
		dav1d_picture_unref(&fPicture);
		dav1d_data_unref(&fData);
		dav1d_close(&fContext);
	}

	Dav1dContext*& Context() { return fContext; }
	Dav1dData& Data() { return fData; }
	Dav1dPicture& Picture() { return fPicture; }

private:
	Dav1dContext* fContext;
	Dav1dData fData;
	Dav1dPicture fPicture;
};

// Feeds dav1d all the data and takes the one picture they hold.
heif_error DecodePicture(const Decoder& decoder, Dav1dSession& session)
{
	Dav1dSettings settings;
	dav1d_default_settings(&settings);
	settings.logger.callback = NULL;
	settings.frame_size_limit = kFrameSizeLimit;
	settings.all_layers = 0;
	settings.strict_std_compliance = decoder.strict ? 1 : 0;
	if (dav1d_open(&session.Context(), &settings) < 0)
		return NoMemory();
	uint8* buffer = dav1d_data_create(&session.Data(), decoder.data.size());
	if (buffer == NULL)
		return NoMemory();
	memcpy(buffer, decoder.data.data(), decoder.data.size());

	int drainingCalls = 0;
	for (;;) {
		if (session.Data().sz > 0) {
			int sent = dav1d_send_data(session.Context(), &session.Data());
			if (sent < 0 && sent != DAV1D_ERR(EAGAIN))
				return Failure();
		}
		int got = dav1d_get_picture(session.Context(), &session.Picture());
		if (got == 0)
			return Success();
		if (got != DAV1D_ERR(EAGAIN))
			return Failure();
		if (session.Data().sz == 0 && ++drainingCalls >= kDrainingCalls)
			return Failure();
	}
}

// The colour of the picture as its sequence header gives it; libheif uses it unless the file
// says otherwise. A value libheif does not know is left out, or fails a strict decoding.
bool SetColour(const Dav1dPicture& picture, heif_image* image, bool strict)
{
	heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
	if (nclx == NULL)
		return false;
	const Dav1dSequenceHeader& header = *picture.seq_hdr;
	bool known =
	    heif_nclx_color_profile_set_matrix_coefficients(nclx, (uint16_t)header.mtrx).code ==
	        heif_error_Ok &&
	    heif_nclx_color_profile_set_color_primaries(nclx, (uint16_t)header.pri).code ==
	        heif_error_Ok &&
	    heif_nclx_color_profile_set_transfer_characteristics(nclx, (uint16_t)header.trc).code ==
	        heif_error_Ok;
	nclx->full_range_flag = header.color_range != 0;
	bool set =
	    (known || !strict) && heif_image_set_nclx_color_profile(image, nclx).code == heif_error_Ok;
	heif_nclx_color_profile_free(nclx);
	return set;
}

// Copies dav1d's planes into a new libheif image of the same layout and depth.
heif_error ImageOfPicture(const Dav1dPicture& picture, bool strict, heif_image** out)
{
	heif_colorspace colorspace = heif_colorspace_YCbCr;
	heif_chroma chroma;
	switch (picture.p.layout) {
	case DAV1D_PIXEL_LAYOUT_I400:
		colorspace = heif_colorspace_monochrome;
		chroma = heif_chroma_monochrome;
		break;
	case DAV1D_PIXEL_LAYOUT_I420:
		chroma = heif_chroma_420;
		break;
	case DAV1D_PIXEL_LAYOUT_I422:
		chroma = heif_chroma_422;
		break;
	case DAV1D_PIXEL_LAYOUT_I444:
		chroma = heif_chroma_444;
		break;
	default:
		return Failure();
	}
	heif_image* image = NULL;
	if (heif_image_create(picture.p.w, picture.p.h, colorspace, chroma, &image).code !=
	    heif_error_Ok)
		return NoMemory();

	// Samples deeper than 8 bits take two bytes, as in libheif's planes.
	size_t sampleSize = picture.p.bpc > 8 ? 2 : 1;
	int shiftX = picture.p.layout == DAV1D_PIXEL_LAYOUT_I444 ? 0 : 1;
	int shiftY = picture.p.layout == DAV1D_PIXEL_LAYOUT_I420 ? 1 : 0;
	const heif_channel kChannels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
	int planes = colorspace == heif_colorspace_monochrome ? 1 : 3;
	for (int plane = 0; plane < planes; plane++) {
		int width = plane == 0 ? picture.p.w : (picture.p.w + shiftX) >> shiftX;
		int height = plane == 0 ? picture.p.h : (picture.p.h + shiftY) >> shiftY;
		int stride = 0;
		uint8* rows = NULL;
		if (heif_image_add_plane(image, kChannels[plane], width, height, picture.p.bpc).code ==
		    heif_error_Ok)
			rows = heif_image_get_plane(image, kChannels[plane], &stride);
		if (rows == NULL) {
			heif_image_release(image);
			return NoMemory();
		}
		const uint8* source = static_cast<const uint8*>(picture.data[plane]);
		ptrdiff_t sourceStride = picture.stride[plane == 0 ? 0 : 1];
		for (int y = 0; y < height; y++)
			memcpy(rows + (size_t)y * stride, source + y * sourceStride, width * sampleSize);
	}
	if (!SetColour(picture, image, strict)) {
		heif_image_release(image);
		return Failure();
	}
	*out = image;
	return Success();
}

const char* PluginName()
{
	return "dav1d without its log";
}

int SupportsFormat(heif_compression_format format)
{
	return format == heif_compression_AV1 ? kPriority : 0;
}

heif_error NewDecoder(void** decoder)
{
	*decoder = new (std::nothrow) Decoder();
	return *decoder != NULL ? Success() : NoMemory();
}

void FreeDecoder(void* decoder)
{
	delete static_cast<Decoder*>(decoder);
}

heif_error PushData(void* decoder, const void* data, size_t size)
{
	const uint8* bytes = static_cast<const uint8*>(data);
	try {
		static_cast<Decoder*>(decoder)->data.insert(static_cast<Decoder*>(decoder)->data.end(),
		                                            bytes, bytes + size);
	} catch (const std::bad_alloc&) {
		return NoMemory();
	}
	return Success();
}

heif_error DecodeImage(void* decoder, heif_image** image)
{
	const Decoder& state = *static_cast<Decoder*>(decoder);
	if (state.data.empty())
		return Failure();
	Dav1dSession session;
	heif_error result = DecodePicture(state, session);
	if (result.code != heif_error_Ok)
		return result;
	return ImageOfPicture(session.Picture(), state.strict, image);
}

void SetStrictDecoding(void* decoder, int strict)
{
	static_cast<Decoder*>(decoder)->strict = strict != 0;
}

const heif_decoder_plugin kPlugin = {
    3,
    PluginName,
    NULL,
    NULL,
    SupportsFormat,
    NewDecoder,
    FreeDecoder,
    PushData,
    DecodeImage,
    SetStrictDecoding,
    "quimbel-dav1d",
};

} // namespace

void UseQuietAv1Decoder()
{
	static std::once_flag sRegistered;
	std::call_once(sRegistered, [] { heif_register_decoder_plugin(&kPlugin); });
}
