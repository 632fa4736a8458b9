// Reading baseline, progressive, grey and CMYK JPEG files into B_RGB32 bitmaps through
// libjpeg-turbo.
#include "ImageCodecs.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ExtendedXmp.h"
#include "JpegErrors.h"
#include "Metadata.h"
#include "Orientation.h"

namespace {

// A progressive file may declare any number of scans, each a pass over the whole image, even
// when it carries no data. Real encoders write a dozen or so; with 64, a hostile file of the
// largest size allowed is refused after about 1.4 s here, where 500 took over 6 s.
const int kMaxScans = 64;

struct JpegProgress {
	jpeg_progress_mgr manager;
	JpegErrors* errors;
};

void LimitScans(j_common_ptr info)
{
	j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
	if (!decompress->progressive_mode || decompress->input_scan_number <= kMaxScans)
		return;
	JpegErrors* errors = reinterpret_cast<JpegProgress*>(info->progress)->errors;
	snprintf(errors->message, sizeof(errors->message),
	         "damaged JPEG data (more than %d progressive scans)", kMaxScans);
	longjmp(errors->jump, 1);
}

bool ReadHeader(j_decompress_ptr info, JpegErrors* errors, JpegProgress* progress, FILE* file)
{
	if (setjmp(errors->jump))
		return false;

	jpeg_create_decompress(info);
	progress->manager.progress_monitor = LimitScans;
	progress->errors = errors;
	info->progress = &progress->manager;
	jpeg_stdio_src(info, file);
	// The EXIF and XMP segments, the ICC profile's and Photoshop's (which holds IPTC);
	// libjpeg keeps at most 64 KiB of each segment, and a file has at most 255 of the
	// profile's.
	jpeg_save_markers(info, JPEG_APP0 + 1, 0xffff);
	jpeg_save_markers(info, JPEG_APP0 + 2, 0xffff);
	jpeg_save_markers(info, JPEG_APP0 + 13, 0xffff);
	jpeg_read_header(info, TRUE);
	return true;
}

// Decodes into the bitmap's rows: B, G, R and 255 from colour and grey files, C, M, Y, K from
// four-channel files, which ConvertCmyk turns into colour afterwards.
bool ReadRows(j_decompress_ptr info, JpegErrors* errors, uint8* bits, size_t bytesPerRow)
{
	if (setjmp(errors->jump))
		return false;

	jpeg_start_decompress(info);
	while (info->output_scanline < info->output_height) {
		JSAMPROW row = bits + (size_t)info->output_scanline * bytesPerRow;
		jpeg_read_scanlines(info, &row, 1);
	}
	jpeg_finish_decompress(info);
	return true;
}

// Adobe's encoders store CMYK inverted (0 is full ink) and mark such files with their APP14
// marker; other files use plain CMYK. libjpeg has already turned YCCK into CMYK of the same sense.
void ConvertCmyk(BBitmap& bitmap, bool inverted)
{
	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	size_t count = (size_t)bitmap.BitsLength() / 4;
	for (size_t i = 0; i < count; i++) {
		uint8* pixel = bits + i * 4;
		int cyan = pixel[0];
		int magenta = pixel[1];
		int yellow = pixel[2];
		int black = pixel[3];
		if (!inverted) {
			cyan = 255 - cyan;
			magenta = 255 - magenta;
			yellow = 255 - yellow;
			black = 255 - black;
		}
		pixel[0] = (yellow * black + 127) / 255;
		pixel[1] = (magenta * black + 127) / 255;
		pixel[2] = (cyan * black + 127) / 255;
		pixel[3] = 255;
	}
}

// Releases what libjpeg allocated, also when jpeg_create_decompress failed half way.
class JpegReadStruct {
public:
	JpegReadStruct(JpegErrors* errors)
	{
		memset(&fInfo, 0, sizeof(fInfo));
		fInfo.err = InitJpegErrors(errors, "damaged JPEG data", true);
	}
	~JpegReadStruct() { jpeg_destroy_decompress(&fInfo); }

	j_decompress_ptr Info() { return &fInfo; }

private:
	jpeg_decompress_struct fInfo;
};

bool StartsWith(jpeg_saved_marker_ptr marker, const char* header, size_t size)
{
	return marker->data_length >= size && memcmp(marker->data, header, size) == 0;
}

// The first EXIF, XMP (with its extension joined in) and IPTC the segments hold, and the
// orientation the EXIF gives.
void ReadSegments(j_decompress_ptr info, ImageMetadata& metadata)
{
	static const char kExifHeader[] = "Exif\0";
	static const char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";
	static const char kPhotoshopHeader[] = "Photoshop 3.0";
	bool haveExif = false;
	bool haveXmp = false;
	std::vector<ExtendedXmpPart> extension;
	for (jpeg_saved_marker_ptr marker = info->marker_list; marker != NULL; marker = marker->next) {
		const uint8* data = marker->data;
		size_t size = marker->data_length;
		if (marker->marker == JPEG_APP0 + 1 && !haveExif &&
		    StartsWith(marker, kExifHeader, sizeof(kExifHeader))) {
			metadata.exif = ExifWithoutHeader(data, size);
			metadata.orientation = ExifOrientation(metadata.exif.data(), metadata.exif.size());
			haveExif = true;
		} else if (marker->marker == JPEG_APP0 + 1 && !haveXmp &&
		           StartsWith(marker, kXmpHeader, sizeof(kXmpHeader))) {
			metadata.xmp.assign(reinterpret_cast<const char*>(data) + sizeof(kXmpHeader),
			                    size - sizeof(kXmpHeader));
			haveXmp = true;
		} else if (marker->marker == JPEG_APP0 + 1 &&
		           StartsWith(marker, kExtendedXmpSignature, kExtendedXmpSignatureSize)) {
			ExtendedXmpPart part;
			if (ReadExtendedXmpPart(data + kExtendedXmpSignatureSize,
			                        size - kExtendedXmpSignatureSize, part))
				extension.push_back(part);
		} else if (marker->marker == JPEG_APP0 + 13 && metadata.iptc.empty() &&
		           StartsWith(marker, kPhotoshopHeader, sizeof(kPhotoshopHeader))) {
			metadata.iptc = IptcOfPhotoshopResources(data + sizeof(kPhotoshopHeader),
			                                         size - sizeof(kPhotoshopHeader));
		}
	}
	if (haveXmp)
		metadata.xmp = JoinExtendedXmp(metadata.xmp, extension);
}

// The JFIF header's density; a square aspect without a unit says nothing.
void ReadDensity(j_decompress_ptr info, ImageMetadata::Resolution& resolution)
{
	if (!info->saw_JFIF_marker || info->X_density == 0 || info->Y_density == 0)
		return;
	if (info->density_unit == 1)
		resolution.unit = ImageMetadata::Resolution::kInch;
	else if (info->density_unit == 2)
		resolution.unit = ImageMetadata::Resolution::kCentimetre;
	else if (info->X_density != info->Y_density)
		resolution.unit = ImageMetadata::Resolution::kAspectOnly;
	else
		return;
	resolution.x = info->X_density;
	resolution.y = info->Y_density;
}

// Puts the ICC profile together from the file's APP2 segments, in memory the caller frees.
// Damaged segments leave no profile: the pixels do not depend on them.
bool ReadProfileSegments(j_decompress_ptr info, JpegErrors* errors, JOCTET** data,
                         unsigned int* length)
{
	if (setjmp(errors->jump))
		return false;
	return jpeg_read_icc_profile(info, data, length);
}

void ReadProfile(j_decompress_ptr info, JpegErrors* errors, std::vector<uint8>& profile)
{
	JOCTET* data = NULL;
	unsigned int length = 0;
	if (ReadProfileSegments(info, errors, &data, &length) && data != NULL)
		profile.assign(data, data + length);
	free(data);
}

} // namespace

std::unique_ptr<BBitmap> ReadJpeg(FILE* file, const ImageLimits& limits, std::string& error,
                                  ImageMetadata* metadata)
{
	JpegErrors errors;
	JpegProgress progress;
	memset(&progress, 0, sizeof(progress));
	JpegReadStruct reader(&errors);
	j_decompress_ptr info = reader.Info();
	if (!ReadHeader(info, &errors, &progress, file)) {
		error = errors.message;
		return NULL;
	}

	// Read now: the saved segments go with the image's memory when decoding finishes.
	if (metadata != NULL) {
		ReadSegments(info, *metadata);
		ReadDensity(info, metadata->resolution);
		ReadProfile(info, &errors, metadata->iccProfile);
	}

	bool cmyk = false;
	switch (info->jpeg_color_space) {
	case JCS_GRAYSCALE:
	case JCS_YCbCr:
	case JCS_RGB:
		info->out_color_space = JCS_EXT_BGRX;
		break;
	case JCS_CMYK:
	case JCS_YCCK:
		info->out_color_space = JCS_CMYK;
		cmyk = true;
		break;
	default:
		error =
		    "unsupported JPEG colour space (" + std::to_string(info->num_components) + " channels)";
		return NULL;
	}

	std::unique_ptr<BBitmap> bitmap =
	    CreateImageBitmap(info->image_width, info->image_height, false, limits, error);
	if (bitmap == NULL)
		return NULL;
	if (!ReadRows(info, &errors, static_cast<uint8*>(bitmap->Bits()), bitmap->BytesPerRow())) {
		error = errors.message;
		return NULL;
	}
	if (cmyk)
		ConvertCmyk(*bitmap, info->saw_Adobe_marker);
	return bitmap;
}
