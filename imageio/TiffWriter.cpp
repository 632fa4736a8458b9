// Writing 32-bit bitmaps as 8-bit RGB or RGBA TIFF files through libtiff, deflated with the
// horizontal predictor, with their colour profile, resolution, orientation, EXIF, XMP and IPTC.
#include "ImageCodecs.h"
#include "Metadata.h"
#include "TiffFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <exiv2/exif.hpp>
#include <exiv2/tags.hpp>

namespace {

// Rows are deflated a strip at a time: strips this large compress as well as the whole image
// would, and stay small enough for a reader to decode one alone.
const size_t kStripBytes = 256 * 1024;
// What the file holds beside the samples and the metadata: the directory and the strips' places.
const size_t kDirectoryAllowance = 64 * 1024;

// The EXIF data as the file carries them. The main directory, which libtiff writes, takes the
// descriptive text tags, such as the camera's make and model; the EXIF and GPS directories
// come from a TIFF structure that exiv2 makes of them, written first in the file: every offset
// in it counts from its start, which is the file's start too, so they hold as they are, and
// the main directory points into it. The structure's own main directory is left unused.
struct Exif {
	std::vector<uint8> structure;
	uint32 exifDirectory = 0;
	uint32 gpsDirectory = 0;
	std::vector<std::pair<ttag_t, std::string>> texts;
};

const ttag_t kTextTags[] = {
    TIFFTAG_DOCUMENTNAME, TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,
    TIFFTAG_MODEL,        TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME,
    TIFFTAG_ARTIST,       TIFFTAG_HOSTCOMPUTER,     TIFFTAG_COPYRIGHT,
};

uint32 Little32(const uint8* bytes)
{
	return (uint32)bytes[0] | (uint32)bytes[1] << 8 | (uint32)bytes[2] << 16 |
	       (uint32)bytes[3] << 24;
}

// The offsets of the EXIF and GPS directories in the main directory of a little-endian TIFF
// structure.
void FindDirectories(Exif& exif)
{
	const std::vector<uint8>& bytes = exif.structure;
	if (bytes.size() < 8)
		return;
	uint32 directory = Little32(bytes.data() + 4);
	if (directory > bytes.size() - 2)
		return;
	uint32 count = bytes[directory] | bytes[directory + 1] << 8;
	for (uint32 i = 0; i < count; i++) {
		size_t entry = directory + 2 + (size_t)i * 12;
		if (entry + 12 > bytes.size())
			return;
		uint16 tag = (uint16)(bytes[entry] | bytes[entry + 1] << 8);
		uint32 offset = Little32(bytes.data() + entry + 8);
		if (offset >= bytes.size())
			continue;
		if (tag == TIFFTAG_EXIFIFD)
			exif.exifDirectory = offset;
		else if (tag == TIFFTAG_GPSIFD)
			exif.gpsDirectory = offset;
	}
}

// Takes `data` apart with exiv2. Damaged EXIF data are left out.
Exif PrepareExif(const std::vector<uint8>& data)
{
	Exif exif;
	if (data.empty())
		return exif;
	PrepareExiv2();
	try {
		Exiv2::ExifData decoded;
		Exiv2::ExifParser::decode(decoded, data.data(), (uint32_t)data.size());
		Exiv2::ExifData directories;
		for (const Exiv2::Exifdatum& datum : decoded) {
			std::string group = datum.groupName();
			if (group == "Image") {
				const ttag_t* text =
				    std::find(std::begin(kTextTags), std::end(kTextTags), (ttag_t)datum.tag());
				if (text != std::end(kTextTags) && datum.typeId() == Exiv2::asciiString)
					exif.texts.emplace_back(*text, datum.toString());
			} else if (group == "Photo" || group == "GPSInfo" || group == "Iop" ||
			           group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group)) {
				directories.add(datum);
			}
		}
		if (directories.empty())
			return exif;
		Exiv2::Blob blob;
		Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, directories);
		exif.structure.assign(blob.begin(), blob.end());
		FindDirectories(exif);
		if (exif.exifDirectory == 0 && exif.gpsDirectory == 0)
			exif.structure.clear();
	} catch (...) {
		return Exif();
	}
	return exif;
}

void SetResolution(TIFF* tiff, const ImageMetadata::Resolution& resolution)
{
	double x = resolution.x;
	double y = resolution.y;
	uint16 unit;
	switch (resolution.unit) {
	case ImageMetadata::Resolution::kAspectOnly:
		unit = RESUNIT_NONE;
		break;
	case ImageMetadata::Resolution::kInch:
		unit = RESUNIT_INCH;
		break;
	case ImageMetadata::Resolution::kCentimetre:
		unit = RESUNIT_CENTIMETER;
		break;
	case ImageMetadata::Resolution::kMetre:
		unit = RESUNIT_CENTIMETER;
		x /= 100;
		y /= 100;
		break;
	default:
		return;
	}
	if (!(x > 0) || !(y > 0))
		return;
	TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit);
	TIFFSetField(tiff, TIFFTAG_XRESOLUTION, x);
	TIFFSetField(tiff, TIFFTAG_YRESOLUTION, y);
}

void SetMetadata(TIFF* tiff, const ImageMetadata& metadata, const Exif& exif)
{
	if (metadata.orientation >= 1 && metadata.orientation <= 8)
		TIFFSetField(tiff, TIFFTAG_ORIENTATION, (uint16)metadata.orientation);
	SetResolution(tiff, metadata.resolution);
	if (!metadata.iccProfile.empty())
		TIFFSetField(tiff, TIFFTAG_ICCPROFILE, (uint32)metadata.iccProfile.size(),
		             metadata.iccProfile.data());
	if (!metadata.xmp.empty())
		TIFFSetField(tiff, TIFFTAG_XMLPACKET, (uint32)metadata.xmp.size(), metadata.xmp.data());
	if (!metadata.iptc.empty())
		TIFFSetField(tiff, TIFFTAG_RICHTIFFIPTC, (uint32)metadata.iptc.size(),
		             metadata.iptc.data());
	for (const auto& text : exif.texts)
		TIFFSetField(tiff, text.first, text.second.c_str());
	if (exif.exifDirectory != 0)
		TIFFSetField(tiff, TIFFTAG_EXIFIFD, (uint64)exif.exifDirectory);
	if (exif.gpsDirectory != 0)
		TIFFSetField(tiff, TIFFTAG_GPSIFD, (uint64)exif.gpsDirectory);
}

bool SetLayout(TIFF* tiff, uint32 width, uint32 height, bool alpha, int compression,
               uint32 rowsPerStrip)
{
	bool set = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
	           TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
	           TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
	           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, alpha ? 4 : 3) &&
	           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
	           TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
	           TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
	if (set && alpha) {
		uint16 extra = EXTRASAMPLE_UNASSALPHA;
		set = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
	}
	if (!set)
		return false;
	if (compression == 0)
		return TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
	return TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
	       TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
	       TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, compression);
}

// The rows from `top` on in the file's sample order, red, green, blue and alpha when there is
// alpha.
void ConvertRows(const BBitmap& bitmap, uint32 top, uint32 rows, bool alpha, uint8* out)
{
	uint32 width = bitmap.Bounds().IntegerWidth() + 1;
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	for (uint32 y = top; y < top + rows; y++) {
		const uint8* in = bits + (size_t)y * bitmap.BytesPerRow();
		if (alpha) {
			for (uint32 x = 0; x < width; x++, in += 4, out += 4) {
				out[0] = in[2];
				out[1] = in[1];
				out[2] = in[0];
				out[3] = in[3];
			}
		} else {
			for (uint32 x = 0; x < width; x++, in += 4, out += 3) {
				out[0] = in[2];
				out[1] = in[1];
				out[2] = in[0];
			}
		}
	}
}

bool Encode(const BBitmap& bitmap, const WriteOptions& options, const ImageMetadata* metadata,
            TiffMemory& file, std::string& error)
{
	Exif exif;
	if (metadata != NULL)
		exif = PrepareExif(metadata->exif);
	file.bytes = std::move(exif.structure);
	bool alpha = bitmap.ColorSpace() == B_RGBA32;
	uint32 width = bitmap.Bounds().IntegerWidth() + 1;
	uint32 height = bitmap.Bounds().IntegerHeight() + 1;
	size_t rowBytes = (size_t)width * (alpha ? 4 : 3);
	// Room for the samples stored as they are, which deflated samples seldom pass, so that the
	// file grows without being copied; memory that is not written to is not used.
	size_t room = file.bytes.size() + rowBytes * height + kDirectoryAllowance;
	if (metadata != NULL)
		room += metadata->iccProfile.size() + metadata->xmp.size() + metadata->iptc.size();
	try {
		file.bytes.reserve(room);
	} catch (const std::bad_alloc&) {
	}

	// Little-endian, as the EXIF structure at the start of the file is written.
	TiffFile tiff(&file, "wl");
	if (tiff.Get() == NULL) {
		error = tiff.Failure("cannot encode TIFF", "libtiff cannot start a file");
		return false;
	}
	uint32 rowsPerStrip =
	    (uint32)std::max<size_t>(1, std::min<size_t>(height, kStripBytes / rowBytes));
	if (!SetLayout(tiff.Get(), width, height, alpha, options.pngCompression, rowsPerStrip)) {
		error = tiff.Failure("cannot encode TIFF", "libtiff refuses the layout");
		return false;
	}
	if (metadata != NULL)
		SetMetadata(tiff.Get(), *metadata, exif);

	std::vector<uint8> strip;
	try {
		strip.resize(rowBytes * rowsPerStrip);
	} catch (const std::bad_alloc&) {
		error = "not enough memory to encode TIFF";
		return false;
	}
	for (uint32 top = 0, index = 0; top < height; top += rowsPerStrip, index++) {
		uint32 rows = std::min(rowsPerStrip, height - top);
		ConvertRows(bitmap, top, rows, alpha, strip.data());
		if (TIFFWriteEncodedStrip(tiff.Get(), index, strip.data(), (tmsize_t)(rowBytes * rows)) <
		    0) {
			error = tiff.Failure("cannot encode TIFF", "cannot write a strip");
			return false;
		}
	}
	if (!TIFFWriteDirectory(tiff.Get())) {
		error = tiff.Failure("cannot encode TIFF", "cannot write the directory");
		return false;
	}
	return true;
}

} // namespace

bool WriteTiff(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error)
{
	TiffMemory memory;
	if (!Encode(bitmap, options, metadata, memory, error))
		return false;
	if (fwrite(memory.bytes.data(), 1, memory.bytes.size(), file) != memory.bytes.size()) {
		error = std::string("cannot write: ") + strerror(errno);
		return false;
	}
	return true;
}
