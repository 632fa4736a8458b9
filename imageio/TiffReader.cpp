// Reading TIFF files into 32-bit bitmaps through libtiff: grey, RGB, palette, bilevel and CMYK
// images of 1 to 16 bits a sample, with or without alpha, in strips or tiles, contiguous or in
// planes, with any compression libtiff decodes. A file of several pages gives its first.
#include "ImageCodecs.h"
#include "Metadata.h"
#include "TiffFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <vector>

#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/iptc.hpp>
#include <exiv2/tags.hpp>
#include <exiv2/tiffimage.hpp>
#include <exiv2/xmp_exiv2.hpp>

namespace {

// The most memory libtiff may take in one allocation. With the file mapped it reads the
// compressed data in place, so what it allocates is its own state and the strip and tile
// tables, which it checks against the file's size.
const tmsize_t kLibraryAllocationLimit = 256 * 1024 * 1024;
// Strips and tiles are decoded into buffers that may be larger than the image itself by this
// much: tiles overhang the image's edges, and writers use the same tile size on small images.
const uint64 kChunkAllowance = 16 * 1024 * 1024;
// Strips of more bytes than this are read a row at a time, not decoded whole.
const uint64 kMaxStripBuffer = 4 * 1024 * 1024;
// A file may carry no more samples a pixel than this; a pixel of more is nothing this reads.
const uint16 kMaxSamples = 16;
// The smallest TIFF header, classic TIFF's, which no strip or tile overlaps.
const uint64 kHeaderSize = 8;
// Pages past the first are counted, for the note, up to this many.
const int kMaxPagesCounted = 1000;

std::string Damaged(const TiffFile& file, const std::string& otherwise)
{
	return file.Failure("damaged TIFF data", otherwise);
}

enum class Model { kGrey, kRgb, kPalette, kCmyk };

// How the samples of the first page are laid out, and what they mean.
struct Layout {
	uint32 width;
	uint32 height;
	Model model;
	int bits;
	// Samples a pixel, and in how many planes they come: 1 when each pixel's samples are
	// together, otherwise one plane a sample.
	int samples;
	int planes;
	// The index of the alpha sample, or -1; whether the colour is premultiplied by it.
	int alpha;
	bool associated;
	bool minIsWhite;
	// The pixel words of grey levels and palette entries, for images of one sample of at most
	// 8 bits, and for palettes.
	uint8 words[256][4];
	bool tiled;
	uint32 tileWidth;
	uint32 tileLength;
	// Bytes of one row of one plane as stored.
	uint64 rowBytes;
};

const char* ModelName(uint16 photometric)
{
	switch (photometric) {
	case PHOTOMETRIC_YCBCR:
		return "YCbCr without JPEG compression";
	case PHOTOMETRIC_CIELAB:
	case PHOTOMETRIC_ICCLAB:
	case PHOTOMETRIC_ITULAB:
		return "CIE L*a*b*";
	case PHOTOMETRIC_LOGL:
	case PHOTOMETRIC_LOGLUV:
		return "LogLuv";
	case PHOTOMETRIC_MASK:
		return "transparency mask";
	default:
		return NULL;
	}
}

bool ReadColourModel(TIFF* tiff, Layout& layout, int& colours, std::string& error)
{
	uint16 photometric = 0;
	if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) {
		error = "damaged TIFF data (no photometric interpretation)";
		return false;
	}
	uint16 compression = COMPRESSION_NONE;
	TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
	switch (photometric) {
	case PHOTOMETRIC_MINISWHITE:
	case PHOTOMETRIC_MINISBLACK:
		layout.model = Model::kGrey;
		layout.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
		colours = 1;
		return true;
	case PHOTOMETRIC_RGB:
		layout.model = Model::kRgb;
		colours = 3;
		return true;
	case PHOTOMETRIC_PALETTE:
		layout.model = Model::kPalette;
		colours = 1;
		return true;
	case PHOTOMETRIC_SEPARATED: {
		uint16 inks = INKSET_CMYK;
		TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
		if (inks != INKSET_CMYK) {
			error = "unsupported TIFF colour model (inks other than CMYK)";
			return false;
		}
		layout.model = Model::kCmyk;
		colours = 4;
		return true;
	}
	case PHOTOMETRIC_YCBCR:
		if (compression == COMPRESSION_JPEG) {
			// libjpeg turns the YCbCr of JPEG-compressed images into RGB as it decodes them.
			TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
			layout.model = Model::kRgb;
			colours = 3;
			return true;
		}
		break;
	}
	const char* name = ModelName(photometric);
	error = std::string("unsupported TIFF colour model (") +
	        (name != NULL ? name : "photometric interpretation " + std::to_string(photometric)) +
	        ")";
	return false;
}

// Palettes give 16-bit levels; some old writers put 8-bit levels there, which libtiff too
// recognises by no level passing 255.
void ReadPalette(TIFF* tiff, Layout& layout)
{
	uint16* red = NULL;
	uint16* green = NULL;
	uint16* blue = NULL;
	int entries = 1 << layout.bits;
	memset(layout.words, 0, sizeof(layout.words));
	if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue))
		return;
	bool eightBit = true;
	for (int i = 0; i < entries; i++)
		eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
	for (int i = 0; i < entries; i++) {
		uint8* word = layout.words[i];
		word[0] = eightBit ? blue[i] : (uint8)((blue[i] + 128) / 257);
		word[1] = eightBit ? green[i] : (uint8)((green[i] + 128) / 257);
		word[2] = eightBit ? red[i] : (uint8)((red[i] + 128) / 257);
		word[3] = 255;
	}
}

void MakeGreyWords(Layout& layout)
{
	int maximum = (1 << layout.bits) - 1;
	for (int level = 0; level <= maximum; level++) {
		uint8 grey = (uint8)(level * 255 / maximum);
		if (layout.minIsWhite)
			grey = 255 - grey;
		memset(layout.words[level], grey, 3);
		layout.words[level][3] = 255;
	}
}

bool ReadLayout(TIFF* tiff, Layout& layout, std::string& error)
{
	uint16 bits = 1;
	uint16 samples = 1;
	uint16 sampleFormat = SAMPLEFORMAT_UINT;
	uint16 planar = PLANARCONFIG_CONTIG;
	if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width) ||
	    !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height)) {
		error = "damaged TIFF data (no image size)";
		return false;
	}
	TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
	TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
	TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
	TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);

	int colours = 0;
	layout.minIsWhite = false;
	if (!ReadColourModel(tiff, layout, colours, error))
		return false;
	if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) {
		const char* format = sampleFormat == SAMPLEFORMAT_IEEEFP ? "floating point"
		                     : sampleFormat == SAMPLEFORMAT_INT  ? "signed"
		                                                         : "complex";
		error = std::string("unsupported TIFF sample format (") + format + " samples)";
		return false;
	}
	if (samples < colours || samples > kMaxSamples) {
		error = "unsupported TIFF layout (" + std::to_string(samples) + " samples a pixel for " +
		        std::to_string(colours) + " colour channels)";
		return false;
	}
	bool packed = bits == 1 || bits == 2 || bits == 4;
	bool valid = bits == 8 || bits == 16 || (packed && samples == 1);
	if (layout.model == Model::kPalette)
		valid = bits <= 8 && (samples == 1 || bits == 8);
	else if (layout.model != Model::kGrey)
		valid = bits == 8 || bits == 16;
	if (!valid) {
		error = "unsupported TIFF layout (" + std::to_string(bits) + " bits a sample" +
		        (samples > 1 ? " in pixels of " + std::to_string(samples) + " samples" : "") + ")";
		return false;
	}
	layout.bits = bits;
	layout.samples = samples;
	layout.planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;

	// The first sample after the colour channels is alpha when ExtraSamples says so.
	uint16 extraCount = 0;
	uint16* extraTypes = NULL;
	TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
	layout.alpha = -1;
	layout.associated = false;
	if (extraCount > 0 && samples > colours &&
	    (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA)) {
		layout.alpha = colours;
		layout.associated = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
	}

	if (layout.model == Model::kPalette)
		ReadPalette(tiff, layout);
	else if (layout.model == Model::kGrey && samples == 1 && bits <= 8)
		MakeGreyWords(layout);

	layout.tiled = TIFFIsTiled(tiff) != 0;
	layout.tileWidth = 0;
	layout.tileLength = 0;
	if (layout.tiled && (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth) ||
	                     !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.tileLength) ||
	                     layout.tileWidth == 0 || layout.tileLength == 0)) {
		error = "damaged TIFF data (no tile size)";
		return false;
	}
	uint64 samplesInRow = (uint64)layout.width * (layout.planes == 1 ? samples : 1);
	layout.rowBytes = (samplesInRow * bits + 7) / 8;
	return true;
}

// Sample values at 8 bits, rounded to the nearest.
inline uint8 To8(uint8 value)
{
	return value;
}

inline uint8 To8(uint16 value)
{
	return (uint8)((value + 128) / 257);
}

// A colour sample with premultiplied alpha taken out.
inline uint32 Straight(uint32 colour, uint32 alpha, uint32 maximum)
{
	if (alpha == 0)
		return 0;
	return std::min(maximum, (colour * maximum + alpha / 2) / alpha);
}

// Plain CMYK, 0 meaning no ink, as the JPEG reader turns it into colour.
inline uint8 Ink(uint8 ink, uint8 black)
{
	return (uint8)(((255 - ink) * (255 - black) + 127) / 255);
}

template <typename Sample>
void ConvertSamples(const Layout& layout, const Sample* in, uint8* out, uint32 count)
{
	const uint32 maximum = std::numeric_limits<Sample>::max();
	const int stride = layout.samples;
	for (uint32 x = 0; x < count; x++, in += stride, out += 4) {
		uint32 alpha = layout.alpha >= 0 ? in[layout.alpha] : maximum;
		uint32 values[4];
		int colours = layout.model == Model::kRgb ? 3 : layout.model == Model::kCmyk ? 4 : 1;
		for (int c = 0; c < colours; c++)
			values[c] = layout.associated ? Straight(in[c], alpha, maximum) : in[c];
		switch (layout.model) {
		case Model::kGrey: {
			uint8 grey = To8((Sample)values[0]);
			memset(out, layout.minIsWhite ? 255 - grey : grey, 3);
			break;
		}
		case Model::kRgb:
			out[0] = To8((Sample)values[2]);
			out[1] = To8((Sample)values[1]);
			out[2] = To8((Sample)values[0]);
			break;
		case Model::kPalette:
			memcpy(out, layout.words[std::min<uint32>(in[0], 255)], 3);
			break;
		case Model::kCmyk: {
			uint8 black = To8((Sample)values[3]);
			out[0] = Ink(To8((Sample)values[2]), black);
			out[1] = Ink(To8((Sample)values[1]), black);
			out[2] = Ink(To8((Sample)values[0]), black);
			break;
		}
		}
		out[3] = To8((Sample)alpha);
	}
}

// Turns `count` pixels of samples as the file stores them, a pixel's samples together, into
// pixel words.
void ConvertRow(const Layout& layout, const uint8* in, uint8* out, uint32 count)
{
	if (layout.samples == 1 && layout.bits <= 8 && layout.model != Model::kRgb) {
		if (layout.bits == 8) {
			for (uint32 x = 0; x < count; x++)
				memcpy(out + (size_t)x * 4, layout.words[in[x]], 4);
			return;
		}
		int bits = layout.bits;
		int perByte = 8 / bits;
		int mask = (1 << bits) - 1;
		for (uint32 x = 0; x < count; x++) {
			int shift = 8 - bits * (int)(x % perByte + 1);
			memcpy(out + (size_t)x * 4, layout.words[(in[x / perByte] >> shift) & mask], 4);
		}
		return;
	}
	if (layout.bits == 16) {
		ConvertSamples(layout, reinterpret_cast<const uint16*>(in), out, count);
		return;
	}
	// Photographs, the common case, without the general loop's choices.
	if (layout.model == Model::kRgb && layout.samples == 3) {
		for (uint32 x = 0; x < count; x++, in += 3, out += 4) {
			out[0] = in[2];
			out[1] = in[1];
			out[2] = in[0];
			out[3] = 255;
		}
		return;
	}
	if (layout.model == Model::kRgb && layout.samples == 4 && layout.alpha == 3 &&
	    !layout.associated) {
		for (uint32 x = 0; x < count; x++, in += 4, out += 4) {
			out[0] = in[2];
			out[1] = in[1];
			out[2] = in[0];
			out[3] = in[3];
		}
		return;
	}
	ConvertSamples(layout, in, out, count);
}

// Buffers for the samples of one strip or tile, one for each plane, and a row with the planes'
// samples brought together. uint16 elements keep 16-bit samples aligned.
class Chunk {
public:
	bool Allocate(const Layout& layout, uint64 planeBytes, uint64 stride, uint32 pixels)
	{
		fStride = (size_t)stride;
		try {
			fPlanes.resize(layout.planes);
			for (std::vector<uint16>& plane : fPlanes)
				plane.resize((size_t)(planeBytes + 1) / 2);
			if (layout.planes > 1)
				fRow.resize((size_t)pixels * layout.samples);
		} catch (const std::bad_alloc&) {
			return false;
		}
		return true;
	}

	void* Plane(int plane) { return fPlanes[plane].data(); }
	tmsize_t PlaneSize() const { return (tmsize_t)(fPlanes[0].size() * 2); }

	// The samples of the first `count` pixels of row `row` of the chunk, a pixel's together.
	const uint8* Row(const Layout& layout, uint32 row, uint32 count)
	{
		size_t offset = (size_t)row * fStride;
		if (layout.planes == 1)
			return reinterpret_cast<const uint8*>(fPlanes[0].data()) + offset;
		int samples = layout.samples;
		if (layout.bits == 16) {
			for (int s = 0; s < samples; s++) {
				const uint16* plane = fPlanes[s].data() + offset / 2;
				for (uint32 x = 0; x < count; x++)
					fRow[(size_t)x * samples + s] = plane[x];
			}
			return reinterpret_cast<const uint8*>(fRow.data());
		}
		uint8* pixels = reinterpret_cast<uint8*>(fRow.data());
		for (int s = 0; s < samples; s++) {
			const uint8* plane = reinterpret_cast<const uint8*>(fPlanes[s].data()) + offset;
			for (uint32 x = 0; x < count; x++)
				pixels[(size_t)x * samples + s] = plane[x];
		}
		return pixels;
	}

private:
	std::vector<std::vector<uint16>> fPlanes;
	std::vector<uint16> fRow;
	size_t fStride = 0;
};

uint8* BitmapRow(BBitmap& bitmap, uint32 y)
{
	return static_cast<uint8*>(bitmap.Bits()) + (size_t)y * bitmap.BytesPerRow();
}

// Strips or tiles of this many bytes in all are more than a sound file of the image needs.
bool CheckChunkSize(const Layout& layout, uint64 chunkBytes, const char* what, uint32 width,
                    uint32 length, std::string& error)
{
	uint64 imageBytes = layout.rowBytes * layout.planes * layout.height;
	if (chunkBytes * layout.planes <= imageBytes + kChunkAllowance)
		return true;
	error = std::string("damaged TIFF data (") + what + " of " + std::to_string(width) + " x " +
	        std::to_string(length) + " pixels, far larger than the image)";
	return false;
}

// Strips too large to decode whole into a buffer of their own are read a row at a time, so that
// even an image in one strip takes no memory beyond the bitmap and one row. Only strips whose
// pixels keep their samples together can be read so.
bool ReadRows(TIFF* tiff, const Layout& layout, BBitmap& bitmap, const TiffFile& file,
              std::string& error)
{
	if ((uint64)TIFFScanlineSize64(tiff) != layout.rowBytes) {
		error = Damaged(file, "row size does not match the image");
		return false;
	}
	std::vector<uint16> row((size_t)(layout.rowBytes + 1) / 2);
	for (uint32 y = 0; y < layout.height; y++) {
		if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) {
			error = Damaged(file, ("cannot decode row " + std::to_string(y)).c_str());
			return false;
		}
		ConvertRow(layout, reinterpret_cast<const uint8*>(row.data()), BitmapRow(bitmap, y),
		           layout.width);
	}
	return true;
}

// Strips are decoded whole, which lets libtiff use its fastest decoders, a strip of every plane
// at a time.
bool ReadStrips(TIFF* tiff, const Layout& layout, BBitmap& bitmap, const TiffFile& file,
                std::string& error)
{
	uint32 rowsPerStrip = layout.height;
	TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
	rowsPerStrip = std::max<uint32>(1, std::min(rowsPerStrip, layout.height));
	uint64 stripBytes = layout.rowBytes * rowsPerStrip;
	if (layout.planes == 1 && stripBytes > kMaxStripBuffer)
		return ReadRows(tiff, layout, bitmap, file, error);
	uint32 stripsPerPlane = (layout.height - 1) / rowsPerStrip + 1;
	if (TIFFNumberOfStrips(tiff) < (uint64)stripsPerPlane * layout.planes) {
		error = Damaged(file, "fewer strips than the image needs");
		return false;
	}
	if ((uint64)TIFFStripSize64(tiff) != stripBytes) {
		error = Damaged(file, "strip size does not match the image");
		return false;
	}
	if (!CheckChunkSize(layout, stripBytes, "strips", layout.width, rowsPerStrip, error))
		return false;
	Chunk chunk;
	if (!chunk.Allocate(layout, stripBytes, layout.rowBytes, layout.width)) {
		error = "not enough memory to decode TIFF strips";
		return false;
	}
	for (uint32 strip = 0; strip < stripsPerPlane; strip++) {
		uint32 top = strip * rowsPerStrip;
		uint32 rows = std::min(rowsPerStrip, layout.height - top);
		for (int plane = 0; plane < layout.planes; plane++) {
			tmsize_t got = TIFFReadEncodedStrip(tiff, plane * stripsPerPlane + strip,
			                                    chunk.Plane(plane), chunk.PlaneSize());
			if (got < 0 || (uint64)got < layout.rowBytes * rows) {
				error = Damaged(file, ("cannot decode strip " + std::to_string(strip)).c_str());
				return false;
			}
		}
		for (uint32 row = 0; row < rows; row++)
			ConvertRow(layout, chunk.Row(layout, row, layout.width), BitmapRow(bitmap, top + row),
			           layout.width);
	}
	return true;
}

bool ReadTiles(TIFF* tiff, const Layout& layout, BBitmap& bitmap, const TiffFile& file,
               std::string& error)
{
	uint64 samplesInRow = (uint64)layout.tileWidth * (layout.planes == 1 ? layout.samples : 1);
	uint64 tileRowBytes = (samplesInRow * layout.bits + 7) / 8;
	uint64 tileBytes = tileRowBytes * layout.tileLength;
	if (!CheckChunkSize(layout, tileBytes, "tiles", layout.tileWidth, layout.tileLength, error))
		return false;
	if ((uint64)TIFFTileSize64(tiff) != tileBytes) {
		error = Damaged(file, "tile size does not match the image");
		return false;
	}
	Chunk chunk;
	if (!chunk.Allocate(layout, tileBytes, tileRowBytes, layout.tileWidth)) {
		error = "not enough memory to decode TIFF tiles";
		return false;
	}
	for (uint32 top = 0; top < layout.height; top += layout.tileLength) {
		uint32 rows = std::min(layout.tileLength, layout.height - top);
		for (uint32 left = 0; left < layout.width; left += layout.tileWidth) {
			uint32 columns = std::min(layout.tileWidth, layout.width - left);
			for (int plane = 0; plane < layout.planes; plane++) {
				uint32 tile = TIFFComputeTile(tiff, left, top, 0, (uint16)plane);
				if (TIFFReadEncodedTile(tiff, tile, chunk.Plane(plane), chunk.PlaneSize()) < 0) {
					error = Damaged(file, ("cannot decode tile " + std::to_string(tile)).c_str());
					return false;
				}
			}
			for (uint32 row = 0; row < rows; row++)
				ConvertRow(layout, chunk.Row(layout, row, columns),
				           BitmapRow(bitmap, top + row) + (size_t)left * 4, columns);
		}
	}
	return true;
}

// Strip or tile data that run past the end of the file mean a file cut short, which libtiff
// would report as a read error of the first one it comes to. libtiff reads a strip whose offset
// is missing from the start of the file.
bool CheckDataInFile(TIFF* tiff, const Layout& layout, toff_t fileSize, std::string& error)
{
	uint32 count = layout.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
	for (uint32 i = 0; i < count; i++) {
		uint64 offset = TIFFGetStrileOffset(tiff, i);
		uint64 bytes = TIFFGetStrileByteCount(tiff, i);
		if (bytes == 0)
			continue;
		std::string name = (layout.tiled ? "tile " : "strip ") + std::to_string(i);
		// Only a strip or tile whose offset is missing starts inside the file's header.
		if (offset < kHeaderSize) {
			error = "damaged TIFF data (" + name + " has no offset)";
			return false;
		}
		if (offset > fileSize || bytes > fileSize - offset) {
			error = "truncated TIFF data (" + name + " ends past the end of the file)";
			return false;
		}
	}
	return true;
}

// The tags of the main directory that describe the photograph rather than the file's layout,
// and that EXIF data from a JPEG would hold too.
bool IsDescriptive(uint16 tag)
{
	static const uint16 kTags[] = {
	    0x010d, // DocumentName
	    0x010e, // ImageDescription
	    0x010f, // Make
	    0x0110, // Model
	    0x0112, // Orientation
	    0x011a, // XResolution
	    0x011b, // YResolution
	    0x0128, // ResolutionUnit
	    0x0131, // Software
	    0x0132, // DateTime
	    0x013b, // Artist
	    0x013c, // HostComputer
	    0x4746, // Rating
	    0x4749, // RatingPercent
	    0x8298, // Copyright
	    0x9003, // DateTimeOriginal
	    0x9c9b, // XPTitle
	    0x9c9c, // XPComment
	    0x9c9d, // XPAuthor
	    0x9c9e, // XPKeywords
	    0x9c9f, // XPSubject
	};
	return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// Whether an EXIF datum of a TIFF file is kept: the EXIF and GPS directories whole, maker notes
// included, and the descriptive tags of the main directory. Left out are the layout of the
// pixels, what is kept apart (ICC profile, XMP, IPTC) and the other pages.
bool IsKept(const Exiv2::Exifdatum& datum)
{
	std::string group = datum.groupName();
	if (group == "Image")
		return IsDescriptive(datum.tag());
	return group == "Photo" || group == "GPSInfo" || group == "Iop" || group == "MakerNote" ||
	       Exiv2::ExifTags::isMakerGroup(group);
}

bool HasExif(TIFF* tiff)
{
	uint64 offset = 0;
	if (TIFFGetField(tiff, TIFFTAG_EXIFIFD, &offset) || TIFFGetField(tiff, TIFFTAG_GPSIFD, &offset))
		return true;
	for (ttag_t tag : {TIFFTAG_MAKE, TIFFTAG_MODEL, TIFFTAG_DATETIME, TIFFTAG_ARTIST,
	                   TIFFTAG_COPYRIGHT, TIFFTAG_IMAGEDESCRIPTION}) {
		char* text = NULL;
		if (TIFFGetField(tiff, tag, &text))
			return true;
	}
	return false;
}

// The file's EXIF data as a TIFF structure of their own, as JPEG files carry them; empty when
// there are none or exiv2 cannot take them apart, which leaves the image readable.
std::vector<uint8> ReadExif(const uint8* data, size_t size)
{
	if (size > std::numeric_limits<uint32_t>::max())
		return {};
	PrepareExiv2();
	try {
		Exiv2::ExifData exif;
		Exiv2::IptcData iptc;
		Exiv2::XmpData xmp;
		Exiv2::ByteOrder order = Exiv2::TiffParser::decode(exif, iptc, xmp, data, (uint32_t)size);
		for (auto datum = exif.begin(); datum != exif.end();) {
			if (IsKept(*datum))
				++datum;
			else
				datum = exif.erase(datum);
		}
		if (exif.empty())
			return {};
		Exiv2::Blob blob;
		Exiv2::ExifParser::encode(blob, order, exif);
		return std::vector<uint8>(blob.begin(), blob.end());
	} catch (...) {
		return {};
	}
}

template <typename Bytes> void ReadBytes(TIFF* tiff, ttag_t tag, Bytes& bytes)
{
	uint32 count = 0;
	void* data = NULL;
	if (TIFFGetField(tiff, tag, &count, &data) && data != NULL) {
		const char* begin = static_cast<const char*>(data);
		bytes.assign(begin, begin + count);
	}
}

void ReadResolution(TIFF* tiff, ImageMetadata::Resolution& resolution)
{
	float x = 0;
	float y = 0;
	uint16 unit = RESUNIT_INCH;
	if (!TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) ||
	    !TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) || !(x > 0) || !(y > 0))
		return;
	TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
	switch (unit) {
	case RESUNIT_NONE:
		resolution.unit = ImageMetadata::Resolution::kAspectOnly;
		break;
	case RESUNIT_INCH:
		resolution.unit = ImageMetadata::Resolution::kInch;
		break;
	case RESUNIT_CENTIMETER:
		resolution.unit = ImageMetadata::Resolution::kCentimetre;
		break;
	default:
		return;
	}
	resolution.x = x;
	resolution.y = y;
}

void ReadMetadata(TIFF* tiff, const uint8* data, size_t size, ImageMetadata& metadata)
{
	ReadBytes(tiff, TIFFTAG_ICCPROFILE, metadata.iccProfile);
	ReadBytes(tiff, TIFFTAG_XMLPACKET, metadata.xmp);
	// Photoshop, which repeats them among its image resources, writes them as 32-bit numbers;
	// libtiff gives them as bytes either way.
	ReadBytes(tiff, TIFFTAG_RICHTIFFIPTC, metadata.iptc);
	ReadResolution(tiff, metadata.resolution);
	uint16 orientation = ORIENTATION_TOPLEFT;
	TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation);
	metadata.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
	if (HasExif(tiff))
		metadata.exif = ReadExif(data, size);
}

// The pages of the file, the first one included; reduced-resolution copies of a page, such
// as thumbnails, are not pages of their own. Reading the directories leaves the first one.
std::string PagesNote(TIFF* tiff)
{
	int pages = 1;
	int directories = 0;
	while (TIFFReadDirectory(tiff)) {
		if (++directories > kMaxPagesCounted)
			return "the first of more than " + std::to_string(pages) + " pages";
		uint32 type = 0;
		if (!TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &type) || (type & FILETYPE_REDUCEDIMAGE) == 0)
			pages++;
	}
	return pages > 1 ? "the first of " + std::to_string(pages) + " pages" : std::string();
}

bool ReadPixels(TIFF* tiff, const Layout& layout, BBitmap& bitmap, const TiffFile& file,
                std::string& error)
{
	if (layout.tiled)
		return ReadTiles(tiff, layout, bitmap, file, error);
	return ReadStrips(tiff, layout, bitmap, file, error);
}

} // namespace

std::unique_ptr<BBitmap> ReadTiff(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata)
{
	TiffMemory memory;
	memory.data = data;
	memory.size = size;
	TiffFile tiff(&memory, "r", kLibraryAllocationLimit);
	if (tiff.Get() == NULL) {
		error = Damaged(tiff, "libtiff cannot open it");
		return NULL;
	}
	Layout layout;
	if (!ReadLayout(tiff.Get(), layout, error))
		return NULL;
	std::unique_ptr<BBitmap> bitmap =
	    CreateImageBitmap(layout.width, layout.height, layout.alpha >= 0, limits, error);
	if (bitmap == NULL)
		return NULL;
	// What libtiff said while opening the file it has got over; a decoding error is new.
	tiff.ForgetErrors();
	if (!CheckDataInFile(tiff.Get(), layout, size, error) ||
	    !ReadPixels(tiff.Get(), layout, *bitmap, tiff, error))
		return NULL;
	if (metadata != NULL) {
		ReadMetadata(tiff.Get(), data, size, *metadata);
		if (layout.bits == 16)
			metadata->notes.push_back("16-bit channels reduced to 8 bits");
		std::string pages = PagesNote(tiff.Get());
		if (!pages.empty())
			metadata->notes.push_back(pages);
	}
	return bitmap;
}
