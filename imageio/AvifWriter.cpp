// Writing 32-bit bitmaps as AVIF files through libheif and its AV1 encoder: lossy at the quality
// asked for, or lossless; B_RGBA32 keeps its alpha.
#include "ImageCodecs.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <libheif/heif.h>

#include "HeifObjects.h"
#include "Metadata.h"

namespace {

// libaom's speed, 0 to 9. On a 6000 x 4000 photograph 8 takes 11 s on two busy cores, against
// 28 s for 6, libheif's default, and writes a file 5% smaller at 0.6 dB less PSNR; 9 takes
// 4 s but its file is 20% larger. Lossless, 8 takes 35 s.
const int kEncoderSpeed = 8;

struct EncoderDeleter {
	void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct OptionsDeleter {
	void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};
struct ProfileDeleter {
	void operator()(heif_color_profile_nclx* profile) const
	{
		heif_nclx_color_profile_free(profile);
	}
};

// libheif's messages read "<kind of error>: <detail>[: <more>]"; the kind is what our own words
// say.
std::string Detail(const heif_error& result)
{
	std::string message = result.message != NULL ? result.message : "";
	size_t colon = message.find(": ");
	if (colon != std::string::npos)
		message.erase(0, colon + 2);
	return message;
}

struct Output {
	FILE* file;
	int error;
};

heif_error WriteData(heif_context*, const void* data, size_t size, void* cookie)
{
	Output* output = static_cast<Output*>(cookie);
	if (fwrite(data, 1, size, output->file) == size)
		return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
	output->error = errno != 0 ? errno : EIO;
	return heif_error{heif_error_Encoding_error, heif_suberror_Cannot_write_output_data,
	                  "cannot write"};
}

// Copies the bitmap's pixels into the encoder's RGB or RGBA rows, turned so that they stand as
// EXIF orientation `orientation` says they are shown: the pixel shown at (x, y) is taken from
// where that orientation stores it.
void CopyPixels(const BBitmap& bitmap, int orientation, bool hasAlpha, uint8* plane, size_t stride)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	bool quarter = orientation >= 5 && orientation <= 8;
	int32 shownWidth = quarter ? height : width;
	int32 shownHeight = quarter ? width : height;
	// Where the pixel shown at (0, 0) is stored, and the steps through the stored pixels that
	// one step right and one step down in the shown picture take.
	struct Walk {
		bool right;
		bool bottom;
		int stepX[2];
		int stepY[2];
	};
	static const Walk kWalks[9] = {
	    {false, false, {1, 0}, {0, 1}}, {false, false, {1, 0}, {0, 1}},
	    {true, false, {-1, 0}, {0, 1}}, {true, true, {-1, 0}, {0, -1}},
	    {false, true, {1, 0}, {0, -1}}, {false, false, {0, 1}, {1, 0}},
	    {false, true, {0, -1}, {1, 0}}, {true, true, {0, -1}, {-1, 0}},
	    {true, false, {0, 1}, {-1, 0}},
	};
	const Walk& walk = kWalks[orientation >= 1 && orientation <= 8 ? orientation : 1];
	ptrdiff_t bytesPerRow = bitmap.BytesPerRow();
	ptrdiff_t stepX = walk.stepX[0] * 4 + walk.stepX[1] * bytesPerRow;
	ptrdiff_t stepY = walk.stepY[0] * 4 + walk.stepY[1] * bytesPerRow;
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	ptrdiff_t origin =
	    (walk.right ? (width - 1) * 4 : 0) + (walk.bottom ? (height - 1) * bytesPerRow : 0);
	int channels = hasAlpha ? 4 : 3;
	for (int32 y = 0; y < shownHeight; y++) {
		ptrdiff_t offset = origin + y * stepY;
		uint8* out = plane + (size_t)y * stride;
		for (int32 x = 0; x < shownWidth; x++, offset += stepX, out += channels) {
			const uint8* in = bits + offset;
			out[0] = in[2];
			out[1] = in[1];
			out[2] = in[0];
			if (hasAlpha)
				out[3] = in[3];
		}
	}
}

// Lossless AV1 keeps every sample of its three planes, but the planes must be the RGB values
// themselves: full resolution (4:4:4) and the identity matrix, full range, in place of YCbCr.
bool SetUpLossless(heif_encoder* encoder, heif_image* image, std::string& error)
{
	heif_error result = heif_encoder_set_lossless(encoder, 1);
	if (result.code == heif_error_Ok)
		result = heif_encoder_set_parameter_string(encoder, "chroma", "444");
	std::unique_ptr<heif_color_profile_nclx, ProfileDeleter> profile(
	    heif_nclx_color_profile_alloc());
	if (result.code == heif_error_Ok && profile == NULL) {
		error = "not enough memory to encode AVIF";
		return false;
	}
	if (result.code == heif_error_Ok) {
		profile->color_primaries = heif_color_primaries_ITU_R_BT_709_5;
		profile->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
		profile->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
		profile->full_range_flag = 1;
		result = heif_image_set_nclx_color_profile(image, profile.get());
	}
	if (result.code != heif_error_Ok) {
		error = "the AV1 encoder cannot write lossless AVIF (" + Detail(result) + ")";
		return false;
	}
	return true;
}

bool SetUpEncoder(heif_encoder* encoder, heif_image* image, const WriteOptions& options,
                  std::string& error)
{
	// Other AV1 encoders than libaom may have no such setting; they are left at their own.
	// libheif 1.15 lets libaom be given a thread count (4 unless set) but no tiles; on two cores
	// two threads write a photograph no faster than four, so the count is left as it is.
	heif_encoder_set_parameter_integer(encoder, "speed", kEncoderSpeed);
	if (options.lossless)
		return SetUpLossless(encoder, image, error);
	heif_error result = heif_encoder_set_lossy_quality(encoder, QualityFor(options, 60));
	if (result.code != heif_error_Ok) {
		error = "cannot encode AVIF (" + Detail(result) + ")";
		return false;
	}
	return true;
}

bool AddMetadata(heif_context* context, heif_image_handle* handle, const ImageMetadata& metadata,
                 std::string& error)
{
	heif_error result = {heif_error_Ok, heif_suberror_Unspecified, ""};
	// libheif puts the offset to the TIFF header in front itself.
	if (!metadata.exif.empty()) {
		result = heif_context_add_exif_metadata(context, handle, metadata.exif.data(),
		                                        (int)metadata.exif.size());
	}
	// AVIF has no place for IPTC: it goes in as the XMP that mirrors it.
	std::string xmp = XmpWithIptc(metadata.xmp, metadata.iptc);
	if (result.code == heif_error_Ok && !xmp.empty())
		result = heif_context_add_XMP_metadata(context, handle, xmp.data(), (int)xmp.size());
	if (result.code != heif_error_Ok) {
		error = "cannot add the metadata to AVIF (" + Detail(result) + ")";
		return false;
	}
	return true;
}

} // namespace

bool WriteAvif(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error)
{
	if (!heif_have_encoder_for_format(heif_compression_AV1)) {
		error = "cannot write AVIF: this system's libheif has no AV1 encoder";
		return false;
	}
	HeifContextPtr context(heif_context_alloc());
	if (context == NULL) {
		error = "not enough memory to encode AVIF";
		return false;
	}
	heif_encoder* encoderPointer = NULL;
	heif_error result =
	    heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &encoderPointer);
	std::unique_ptr<heif_encoder, EncoderDeleter> encoder(encoderPointer);
	if (result.code != heif_error_Ok) {
		error = "cannot write AVIF: no AV1 encoder (" + Detail(result) + ")";
		return false;
	}

	// HEIF shows a picture turned by its own transformations, which libheif 1.15 writes with
	// the size of the picture as shown where the stored one belongs: a turned picture is
	// written upright instead, and its metadata mended to say so.
	int orientation = metadata != NULL ? metadata->orientation : 1;
	ImageMetadata upright;
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	if (orientation >= 5 && orientation <= 8)
		std::swap(width, height);
	if (metadata != NULL && orientation != 1) {
		upright = *metadata;
		upright.orientation = 1;
		upright = MendedMetadata(upright, width, height);
		metadata = &upright;
	}

	bool hasAlpha = bitmap.ColorSpace() == B_RGBA32;
	heif_image* imagePointer = NULL;
	result = heif_image_create(
	    width, height, heif_colorspace_RGB,
	    hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &imagePointer);
	HeifImagePtr image(imagePointer);
	if (result.code == heif_error_Ok)
		result = heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8);
	int stride = 0;
	uint8* plane = result.code == heif_error_Ok
	                   ? heif_image_get_plane(image.get(), heif_channel_interleaved, &stride)
	                   : NULL;
	if (plane == NULL) {
		error = "not enough memory to encode AVIF";
		return false;
	}
	CopyPixels(bitmap, orientation, hasAlpha, plane, stride);
	if (metadata != NULL && !metadata->iccProfile.empty()) {
		result = heif_image_set_raw_color_profile(image.get(), "prof", metadata->iccProfile.data(),
		                                          metadata->iccProfile.size());
		if (result.code != heif_error_Ok) {
			error = "cannot add the colour profile to AVIF (" + Detail(result) + ")";
			return false;
		}
	}
	if (!SetUpEncoder(encoder.get(), image.get(), options, error))
		return false;

	std::unique_ptr<heif_encoding_options, OptionsDeleter> encoding(heif_encoding_options_alloc());
	if (encoding == NULL) {
		error = "not enough memory to encode AVIF";
		return false;
	}
	// With an ICC profile the colour matrix is written too, which lossless files depend on.
	encoding->save_two_colr_boxes_when_ICC_and_nclx_available = 1;
	heif_image_handle* handlePointer = NULL;
	result = heif_context_encode_image(context.get(), image.get(), encoder.get(), encoding.get(),
	                                   &handlePointer);
	HeifHandlePtr handle(handlePointer);
	if (result.code != heif_error_Ok) {
		error = "cannot encode AVIF (" + Detail(result) + ")";
		return false;
	}
	if (metadata != NULL && !AddMetadata(context.get(), handle.get(), *metadata, error))
		return false;

	Output output = {file, 0};
	heif_writer writer = {1, WriteData};
	result = heif_context_write(context.get(), &writer, &output);
	if (output.error != 0) {
		error = std::string("cannot write: ") + strerror(output.error);
		return false;
	}
	if (result.code != heif_error_Ok) {
		error = "cannot encode AVIF (" + Detail(result) + ")";
		return false;
	}
	return true;
}
