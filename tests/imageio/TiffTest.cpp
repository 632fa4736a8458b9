// TIFF files of every common kind, made here with libtiff directly, read by ReadImage; bitmaps
// written as TIFF and read back, by ReadImage and by libtiff; damaged files refused.
#include <cmath>
#include <functional>
#include <random>
#include <thread>

#include <unistd.h>

#include <exiv2/exiv2.hpp>
// libtiff's own uint8, uint16... would clash with the platform's types of the same names.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

#include "ImageFile.h"
#include "MetadataSupport.h"
#include "Orientation.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

// Odd sizes, so that the last strip and the tiles of the right and bottom edges are partial and
// bilevel rows end inside a byte.
const uint32 kWidth = 37;
const uint32 kHeight = 29;
const uint32 kTileSide = 16;

// A TIFF image as libtiff takes it: the samples of each plane (one plane unless the samples
// are stored separately), row after row, each row packed to whole bytes, 16-bit samples in
// the machine's order.
struct TiffImage {
	uint32 width = kWidth;
	uint32 height = kHeight;
	uint16 photometric = PHOTOMETRIC_RGB;
	uint16 bits = 8;
	uint16 samples = 3;
	std::vector<uint16> extraSamples;
	bool separate = false;
	uint16 compression = COMPRESSION_NONE;
	bool predictor = false;
	bool tiled = false;
	uint32 rowsPerStrip = 5;
	std::vector<uint16> colormap[3];
	std::vector<Bytes> planes;
	// Sets further tags, such as the orientation or metadata.
	std::function<void(TIFF*)> tags;
	uint32 subfileType = 0;
	bool bigEndian = false;
};

size_t RowBytes(const TiffImage& image, uint32 pixels)
{
	size_t samples = image.separate ? 1 : image.samples;
	return (pixels * samples * image.bits + 7) / 8;
}

void WriteDirectory(TIFF* tiff, const TiffImage& image)
{
	TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width);
	TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height);
	TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, image.bits);
	TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, image.samples);
	TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, image.photometric);
	TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
	             image.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
	if (image.subfileType != 0)
		TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, image.subfileType);
	if (!image.extraSamples.empty())
		TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, (uint16)image.extraSamples.size(),
		             image.extraSamples.data());
	if (image.photometric == PHOTOMETRIC_PALETTE)
		TIFFSetField(tiff, TIFFTAG_COLORMAP, image.colormap[0].data(), image.colormap[1].data(),
		             image.colormap[2].data());
	ASSERT_TRUE(TIFFSetField(tiff, TIFFTAG_COMPRESSION, image.compression));
	if (image.compression == COMPRESSION_JPEG) {
		TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 95);
		if (image.photometric == PHOTOMETRIC_YCBCR) {
			TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
			TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
		}
	}
	if (image.predictor)
		TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
	if (image.tags)
		image.tags(tiff);

	// The rows of a strip or tile are cut from the planes' rows; tiles start at multiples of
	// 16 pixels, on whole bytes at every depth.
	uint32 chunkWidth = image.tiled ? kTileSide : image.width;
	uint32 chunkLength = image.tiled ? kTileSide : image.rowsPerStrip;
	if (image.tiled) {
		TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTileSide);
		TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTileSide);
	} else {
		TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, image.rowsPerStrip);
	}
	size_t rowBytes = RowBytes(image, image.width);
	size_t chunkRowBytes = RowBytes(image, chunkWidth);
	uint32 index = 0;
	for (size_t plane = 0; plane < image.planes.size(); plane++) {
		for (uint32 top = 0; top < image.height; top += chunkLength) {
			for (uint32 left = 0; left < image.width; left += chunkWidth) {
				uint32 rows = image.tiled ? chunkLength : std::min(chunkLength, image.height - top);
				Bytes chunk(chunkRowBytes * rows, 0);
				size_t start = RowBytes(image, left);
				size_t length = std::min(chunkRowBytes, rowBytes - start);
				for (uint32 row = 0; row < rows; row++) {
					// Tiles past the image's edges repeat its last row and column, as
					// encoders do, so that JPEG's colour subsampling has no black beside them.
					uint32 y = std::min(top + row, image.height - 1);
					uint8* out = chunk.data() + row * chunkRowBytes;
					memcpy(out, image.planes[plane].data() + y * rowBytes + start, length);
					size_t pixelBytes = RowBytes(image, 1);
					if (image.bits >= 8)
						for (size_t b = length; b < chunkRowBytes; b++)
							out[b] = out[b - pixelBytes];
				}
				tmsize_t written = image.tiled ? TIFFWriteEncodedTile(tiff, index++, chunk.data(),
				                                                      (tmsize_t)chunk.size())
				                               : TIFFWriteEncodedStrip(tiff, index++, chunk.data(),
				                                                       (tmsize_t)chunk.size());
				ASSERT_GE(written, 0) << "libtiff refused a strip or tile";
			}
		}
	}
	ASSERT_TRUE(TIFFWriteDirectory(tiff));
}

// Writes the pages with libtiff in the first one's byte order; the test fails when libtiff
// refuses them.
void WriteTiffFile(const std::string& path, const std::vector<TiffImage>& pages)
{
	TIFF* tiff = TIFFOpen(path.c_str(), pages[0].bigEndian ? "wb" : "wl");
	ASSERT_NE(tiff, nullptr);
	for (const TiffImage& page : pages)
		WriteDirectory(tiff, page);
	TIFFClose(tiff);
}

void WriteTiffFile(const std::string& path, const TiffImage& image)
{
	WriteTiffFile(path, std::vector<TiffImage>{image});
}

// A sample of the test images: random for lossless compression, smooth ramps up and down for
// JPEG.
uint32 SampleAt(std::mt19937& random, bool smooth, uint32 x, uint32 y, int channel, int bits)
{
	if (smooth) {
		uint32 ramp = (x + y + channel * 30) % 400;
		return (20 + (ramp < 200 ? ramp : 400 - ramp)) * ((1u << bits) - 1) / 255;
	}
	return random() & ((1u << bits) - 1);
}

// Puts sample `index` of a row that starts at `row`.
void PutSample(Bytes& plane, size_t row, size_t index, int bits, uint32 value)
{
	if (bits == 16) {
		uint16 sample = (uint16)value;
		memcpy(plane.data() + row + index * 2, &sample, 2);
	} else if (bits == 8) {
		plane[row + index] = (uint8)value;
	} else {
		int perByte = 8 / bits;
		plane[row + index / perByte] |= (uint8)(value << (8 - bits * (int)(index % perByte + 1)));
	}
}

uint8 Reduced(uint32 sample, int bits)
{
	return (uint8)std::lround(sample * 255.0 / ((1u << bits) - 1));
}

enum class Kind {
	kGrey8,
	kGrey16,
	kGreyAlpha8,
	kRgb8,
	kRgb16,
	kRgb8Planar,
	kRgba8,
	kRgba16,
	kRgba8Associated,
	kPalette8,
	kPalette4,
	kBilevel,
	kCmyk8,
	kYCbCr8,
};

struct KindInfo {
	Kind kind;
	const char* name;
	uint16 photometric;
	uint16 bits;
	uint16 samples;
	uint16 alpha;
	bool separate;
	bool jpeg;
};

const uint16 kNoAlpha = 0xffff;

const KindInfo kKinds[] = {
    {Kind::kGrey8, "grey8", PHOTOMETRIC_MINISBLACK, 8, 1, kNoAlpha, false, true},
    {Kind::kGrey16, "grey16", PHOTOMETRIC_MINISBLACK, 16, 1, kNoAlpha, false, false},
    {Kind::kGreyAlpha8, "grey_alpha8", PHOTOMETRIC_MINISBLACK, 8, 2, EXTRASAMPLE_UNASSALPHA, false,
     false},
    {Kind::kRgb8, "rgb8", PHOTOMETRIC_RGB, 8, 3, kNoAlpha, false, true},
    {Kind::kRgb16, "rgb16", PHOTOMETRIC_RGB, 16, 3, kNoAlpha, false, false},
    {Kind::kRgb8Planar, "rgb8_planar", PHOTOMETRIC_RGB, 8, 3, kNoAlpha, true, false},
    {Kind::kRgba8, "rgba8", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_UNASSALPHA, false, false},
    {Kind::kRgba16, "rgba16_planar", PHOTOMETRIC_RGB, 16, 4, EXTRASAMPLE_UNASSALPHA, true, false},
    {Kind::kRgba8Associated, "rgba8_associated", PHOTOMETRIC_RGB, 8, 4, EXTRASAMPLE_ASSOCALPHA,
     false, false},
    {Kind::kPalette8, "palette8", PHOTOMETRIC_PALETTE, 8, 1, kNoAlpha, false, false},
    {Kind::kPalette4, "palette4", PHOTOMETRIC_PALETTE, 4, 1, kNoAlpha, false, false},
    {Kind::kBilevel, "bilevel", PHOTOMETRIC_MINISWHITE, 1, 1, kNoAlpha, false, false},
    {Kind::kCmyk8, "cmyk8", PHOTOMETRIC_SEPARATED, 8, 4, kNoAlpha, false, true},
    {Kind::kYCbCr8, "ycbcr8", PHOTOMETRIC_YCBCR, 8, 3, kNoAlpha, false, true},
};

const KindInfo& KindOf(Kind kind)
{
	for (const KindInfo& info : kKinds)
		if (info.kind == kind)
			return info;
	return kKinds[0];
}

// Makes an image of `info` and the pixel words ReadImage must give for it. Each expected word
// follows from the stored samples by the kind's definition: premultiplied colours are chosen so
// that taking alpha out is exact, CMYK pixels have no black or only black or full black.
TiffImage MakeImage(const KindInfo& info, bool smooth, std::vector<uint32>& expected,
                    uint32 width = kWidth, uint32 height = kHeight)
{
	std::mt19937 random((uint32)info.kind * 7919 + smooth);
	TiffImage image;
	image.width = width;
	image.height = height;
	image.photometric = info.photometric;
	image.bits = info.bits;
	image.samples = info.samples;
	image.separate = info.separate;
	if (info.alpha != kNoAlpha)
		image.extraSamples = {info.alpha};
	int planes = info.separate ? info.samples : 1;
	image.planes.assign(planes, Bytes(RowBytes(image, width) * height, 0));
	if (info.photometric == PHOTOMETRIC_PALETTE) {
		for (auto& levels : image.colormap)
			for (int i = 0; i < (1 << info.bits); i++)
				levels.push_back((uint16)((random() & 0xff) * 257));
	}
	expected.clear();
	for (uint32 y = 0; y < height; y++) {
		for (uint32 x = 0; x < width; x++) {
			uint32 samples[4];
			for (int c = 0; c < info.samples; c++)
				samples[c] = SampleAt(random, smooth, x, y, c, info.bits);
			uint8 red, green, blue, alpha = 255;
			switch (info.kind) {
			case Kind::kGrey8:
			case Kind::kGrey16:
			case Kind::kGreyAlpha8:
				red = green = blue = Reduced(samples[0], info.bits);
				if (info.samples == 2)
					alpha = (uint8)samples[1];
				break;
			case Kind::kBilevel:
				red = green = blue = samples[0] != 0 ? 0 : 255;
				break;
			case Kind::kPalette8:
			case Kind::kPalette4:
				red = (uint8)(image.colormap[0][samples[0]] / 257);
				green = (uint8)(image.colormap[1][samples[0]] / 257);
				blue = (uint8)(image.colormap[2][samples[0]] / 257);
				break;
			case Kind::kRgba8Associated: {
				// With 255 = alpha * step, a colour of whole steps premultiplies exactly.
				static const uint32 kAlphas[] = {255, 51, 85, 15, 0};
				alpha = (uint8)kAlphas[(x + y) % 5];
				uint32 step = alpha != 0 ? 255 / alpha : 0;
				for (int c = 0; c < 3; c++)
					samples[c] = alpha != 0 ? samples[c] % (alpha + 1u) : 0;
				samples[3] = alpha;
				red = (uint8)(samples[0] * step);
				green = (uint8)(samples[1] * step);
				blue = (uint8)(samples[2] * step);
				break;
			}
			case Kind::kCmyk8:
				if (!smooth && (x + y) % 3 == 1)
					samples[0] = samples[1] = samples[2] = 0;
				else if (!smooth && (x + y) % 3 == 2)
					samples[3] = 255;
				else
					samples[3] = 0;
				red = (uint8)((255 - samples[0]) * (255 - samples[3]) / 255);
				green = (uint8)((255 - samples[1]) * (255 - samples[3]) / 255);
				blue = (uint8)((255 - samples[2]) * (255 - samples[3]) / 255);
				break;
			default:
				red = Reduced(samples[0], info.bits);
				green = Reduced(samples[1], info.bits);
				blue = Reduced(samples[2], info.bits);
				if (info.samples == 4)
					alpha = Reduced(samples[3], info.bits);
				break;
			}
			expected.push_back(Word(red, green, blue, alpha));
			size_t row = y * RowBytes(image, width);
			for (int c = 0; c < info.samples; c++) {
				if (info.separate)
					PutSample(image.planes[c], row, x, info.bits, samples[c]);
				else
					PutSample(image.planes[0], row, x * info.samples + c, info.bits, samples[c]);
			}
		}
	}
	return image;
}

struct Compression {
	const char* name;
	uint16 scheme;
	bool predictor;
};

const Compression kCompressions[] = {
    {"none", COMPRESSION_NONE, false},
    {"lzw", COMPRESSION_LZW, false},
    {"deflate", COMPRESSION_ADOBE_DEFLATE, false},
    {"lzw_predictor", COMPRESSION_LZW, true},
    {"packbits", COMPRESSION_PACKBITS, false},
    {"jpeg", COMPRESSION_JPEG, false},
    {"fax4", COMPRESSION_CCITTFAX4, false},
};

struct ReadCase {
	KindInfo kind;
	bool tiled;
	Compression compression;
};

std::vector<ReadCase> ReadCases()
{
	std::vector<ReadCase> cases;
	for (const KindInfo& kind : kKinds)
		for (bool tiled : {false, true})
			for (const Compression& compression : kCompressions) {
				bool jpeg = compression.scheme == COMPRESSION_JPEG;
				bool fax = compression.scheme == COMPRESSION_CCITTFAX4;
				// JPEG takes 8-bit grey, RGB and CMYK, and YCbCr comes with it only; fax
				// coding takes bilevel images only; the predictor takes whole samples other
				// than palette indexes.
				if (jpeg ? !kind.jpeg : kind.kind == Kind::kYCbCr8)
					continue;
				if (fax && kind.kind != Kind::kBilevel)
					continue;
				if (compression.predictor && (kind.bits < 8 || kind.kind == Kind::kPalette8))
					continue;
				cases.push_back({kind, tiled, compression});
			}
	return cases;
}

// Each channel of each pixel is within `tolerance` of the expected word's.
void ExpectPixels(const BBitmap& bitmap, const std::vector<uint32>& expected, int tolerance)
{
	std::vector<uint32> words = Words(bitmap);
	ASSERT_EQ(words.size(), expected.size());
	uint32 width = bitmap.Bounds().IntegerWidth() + 1;
	for (size_t i = 0; i < words.size(); i++) {
		for (int shift = 0; shift < 32; shift += 8) {
			int got = words[i] >> shift & 0xff;
			int wanted = expected[i] >> shift & 0xff;
			ASSERT_LE(std::abs(got - wanted), tolerance)
			    << "pixel (" << i % width << ", " << i / width << "): " << std::hex << words[i]
			    << " for " << expected[i];
		}
	}
}

void PrintTo(const ReadCase& read, std::ostream* out)
{
	*out << read.kind.name << (read.tiled ? " in tiles, " : " in strips, ")
	     << read.compression.name;
}

class TiffReadTest : public ScratchTest, public ::testing::WithParamInterface<ReadCase> {};

// Every kind, in strips and in tiles, with each compression that suits it, gives the pixels
// stored; 16-bit samples are rounded to 8 bits, which the notes say.
TEST_P(TiffReadTest, GivesThePixelsStored)
{
	const ReadCase& read = GetParam();
	bool lossy = read.compression.scheme == COMPRESSION_JPEG;
	std::vector<uint32> expected;
	TiffImage image = MakeImage(read.kind, lossy, expected);
	image.tiled = read.tiled;
	// Both byte orders are read: libtiff gives 16-bit samples in the machine's.
	image.bigEndian = read.tiled;
	image.compression = read.compression.scheme;
	image.predictor = read.compression.predictor;
	// JPEG strips are whole blocks of 8 rows, of 16 where colour is subsampled.
	if (lossy)
		image.rowsPerStrip = 16;
	WriteTiffFile(Path("image.tif"), image);

	std::string error;
	ImageMetadata metadata;
	BitmapPtr bitmap = ReadImage(Path("image.tif"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(bitmap->ColorSpace(), read.kind.alpha != kNoAlpha ? B_RGBA32 : B_RGB32);
	ExpectPixels(*bitmap, expected, lossy ? 6 : 0);
	std::vector<std::string> notes;
	if (read.kind.bits == 16)
		notes.push_back("16-bit channels reduced to 8 bits");
	EXPECT_EQ(metadata.notes, notes);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TiffReadTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
	                         return std::string(info.param.kind.name) +
	                                (info.param.tiled ? "_tiles_" : "_strips_") +
	                                info.param.compression.name;
                         });

class TiffLargeStripTest : public ScratchTest, public ::testing::WithParamInterface<uint16> {};

// A strip too large to decode whole into a buffer of its own is read a row at a time.
TEST_P(TiffLargeStripTest, IsReadRowByRow)
{
	bool jpeg = GetParam() == COMPRESSION_JPEG;
	std::vector<uint32> expected;
	TiffImage image =
	    MakeImage(KindOf(jpeg ? Kind::kYCbCr8 : Kind::kRgb8), true, expected, 1210, 1200);
	image.compression = GetParam();
	image.rowsPerStrip = image.height;
	WriteTiffFile(Path("large.tif"), image);
	std::string error;
	BitmapPtr bitmap = ReadImage(Path("large.tif"), ImageLimits(), error);
	ASSERT_NE(bitmap, nullptr) << error;
	ExpectPixels(*bitmap, expected, jpeg ? 6 : 0);
}

INSTANTIATE_TEST_SUITE_P(Compressions, TiffLargeStripTest,
                         ::testing::Values(COMPRESSION_ADOBE_DEFLATE, COMPRESSION_JPEG),
                         [](const ::testing::TestParamInfo<uint16>& info) {
	                         return std::string(info.param == COMPRESSION_JPEG ? "jpeg"
	                                                                           : "deflate");
                         });

TiffImage SmallRgb(uint8 shade)
{
	TiffImage image;
	image.width = 8;
	image.height = 4;
	image.planes = {Bytes(8 * 4 * 3, shade)};
	return image;
}

struct PagesCase {
	const char* name;
	std::vector<uint32> subfileTypes;
	const char* note;
};

class TiffPagesTest : public ScratchTest, public ::testing::WithParamInterface<PagesCase> {};

// The first page is read; the others are counted for the note, which leaves out reduced copies
// of a page such as thumbnails.
TEST_P(TiffPagesTest, ReadsTheFirstPageAndCountsThePages)
{
	std::vector<TiffImage> pages;
	for (uint32 type : GetParam().subfileTypes) {
		pages.push_back(SmallRgb((uint8)(10 + pages.size() * 100)));
		pages.back().subfileType = type;
	}
	WriteTiffFile(Path("pages.tif"), pages);
	std::string error;
	ImageMetadata metadata;
	BitmapPtr bitmap = ReadImage(Path("pages.tif"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(WordAt(*bitmap, 7, 3), Word(10, 10, 10, 255));
	std::vector<std::string> notes;
	if (GetParam().note[0] != '\0')
		notes.push_back(GetParam().note);
	EXPECT_EQ(metadata.notes, notes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TiffPagesTest,
    ::testing::Values(
        PagesCase{"three_pages", {0, FILETYPE_PAGE, FILETYPE_PAGE}, "the first of 3 pages"},
        PagesCase{"page_and_thumbnail", {0, FILETYPE_REDUCEDIMAGE}, ""},
        PagesCase{
            "two_pages_and_thumbnail", {0, FILETYPE_REDUCEDIMAGE, 0}, "the first of 2 pages"}),
    [](const ::testing::TestParamInfo<PagesCase>& info) { return std::string(info.param.name); });

class TiffMetadataTest : public ScratchTest {};

// The tags libtiff writes come out byte for byte.
TEST_F(TiffMetadataTest, ReadsProfileXmpIptcResolutionAndOrientation)
{
	const Bytes profile = {0, 0, 1, 2, 'a', 'c', 's', 'p', 9, 8, 7, 0, 255};
	const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'></x:xmpmeta>";
	const Bytes iptc = {0x1c, 2, 120, 0, 5, 'B', 'o', 'a', 't', 's'};
	TiffImage image = SmallRgb(50);
	image.tags = [&](TIFF* tiff) {
		TIFFSetField(tiff, TIFFTAG_ICCPROFILE, (uint32)profile.size(), profile.data());
		TIFFSetField(tiff, TIFFTAG_XMLPACKET, (uint32)xmp.size(), xmp.data());
		TIFFSetField(tiff, TIFFTAG_RICHTIFFIPTC, (uint32)iptc.size(), iptc.data());
		TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
		TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 118.0);
		TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 59.0);
		TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_BOTRIGHT);
	};
	WriteTiffFile(Path("tagged.tif"), image);

	ImageLimits asStored;
	asStored.autoOrient = false;
	std::string error;
	ImageMetadata metadata;
	ASSERT_NE(ReadImage(Path("tagged.tif"), asStored, error, &metadata), nullptr) << error;
	EXPECT_EQ(metadata.iccProfile, profile);
	EXPECT_EQ(metadata.xmp, xmp);
	EXPECT_EQ(metadata.iptc, iptc);
	EXPECT_EQ(metadata.resolution.unit, ImageMetadata::Resolution::kCentimetre);
	EXPECT_EQ(metadata.resolution.x, 118.0);
	EXPECT_EQ(metadata.resolution.y, 59.0);
	EXPECT_EQ(metadata.orientation, 3);
	EXPECT_TRUE(metadata.exif.empty());
}

// EXIF data that exiv2 put in a TIFF file come out as a TIFF structure of their own, with the
// descriptive tags of the main directory but none of the layout of its pixels.
TEST_F(TiffMetadataTest, ReadsExifWithoutTheImageLayout)
{
	WriteTiffFile(Path("photo.tif"), {SmallRgb(50), SmallRgb(150)});
	{
		Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
		auto file = Exiv2::ImageFactory::open(Path("photo.tif"));
		file->readMetadata();
		Exiv2::ExifData& exif = file->exifData();
		exif["Exif.Image.Make"] = "Quimbel Test Camera";
		exif["Exif.Photo.DateTimeOriginal"] = kCaptureDate;
		exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
		Exiv2::URationalValue latitude;
		latitude.read("48/1 51/1 2970/100");
		exif["Exif.GPSInfo.GPSLatitude"] = latitude;
		file->writeMetadata();
	}
	std::string error;
	ImageMetadata metadata;
	BitmapPtr bitmap = ReadImage(Path("photo.tif"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(WordAt(*bitmap, 3, 2), Word(50, 50, 50, 255));
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.GPSInfo.GPSLatitude"), "48/1 51/1 2970/100");
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.GPSInfo.GPSLatitudeRef"), "N");
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Image.Make"), "Quimbel Test Camera");
	for (const char* layout : {"Exif.Image.ImageWidth", "Exif.Image.BitsPerSample",
	                           "Exif.Image.StripOffsets", "Exif.Image.StripByteCounts",
	                           "Exif.Image.Compression", "Exif.Image.PhotometricInterpretation"})
		EXPECT_EQ(ExifValue(metadata.exif, layout), "") << layout;
	// The second page is no thumbnail of the first.
	EXPECT_FALSE(HasThumbnail(metadata.exif));
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Thumbnail.ImageWidth"), "");
	EXPECT_EQ(metadata.notes, std::vector<std::string>{"the first of 2 pages"});
}

// EXIF data that cannot be read are left out; the picture is read all the same.
TEST_F(TiffMetadataTest, DamagedExifLeavesThePicture)
{
	TiffImage image = SmallRgb(70);
	image.tags = [](TIFF* tiff) { TIFFSetField(tiff, TIFFTAG_EXIFIFD, (uint64)0x7ffffff0); };
	WriteTiffFile(Path("exif.tif"), image);
	std::string error;
	ImageMetadata metadata;
	BitmapPtr bitmap = ReadImage(Path("exif.tif"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(WordAt(*bitmap, 0, 0), Word(70, 70, 70, 255));
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Photo.DateTimeOriginal"), "");
}

// A photograph stored turned is read upright, the way the generic code turns every kind.
TEST_F(TiffMetadataTest, TurnedPhotographIsReadUpright)
{
	std::vector<uint32> expected;
	TiffImage image = MakeImage(KindOf(Kind::kRgb8), false, expected);
	image.tags = [](TIFF* tiff) { TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP); };
	WriteTiffFile(Path("turned.tif"), image);

	ImageLimits asStored;
	asStored.autoOrient = false;
	std::string error;
	ImageMetadata stored;
	BitmapPtr raw = ReadImage(Path("turned.tif"), asStored, error, &stored);
	ASSERT_NE(raw, nullptr) << error;
	EXPECT_EQ(Words(*raw), expected);
	EXPECT_EQ(stored.orientation, 6);

	ImageMetadata shown;
	BitmapPtr upright = ReadImage(Path("turned.tif"), ImageLimits(), error, &shown);
	ASSERT_NE(upright, nullptr) << error;
	EXPECT_EQ(upright->Bounds().IntegerWidth() + 1, (int32)kHeight);
	EXPECT_EQ(Words(*upright), Words(*Upright(std::move(raw), 6)));
	EXPECT_EQ(shown.orientation, 1);
}

struct WriteCase {
	color_space space;
	int compression;
};

class TiffWriteTest : public ScratchTest, public ::testing::WithParamInterface<WriteCase> {};

// The file written holds the bitmap's samples exactly, as our reader and libtiff itself read
// them, deflated with the predictor at the level asked for, in strips of a sensible size.
TEST_P(TiffWriteTest, WritesTheSamplesExactly)
{
	const WriteCase& write = GetParam();
	bool alpha = write.space == B_RGBA32;
	BitmapPtr bitmap = MakeBitmap(700, 200, write.space);
	FillRandom(bitmap.get(), 11);
	if (!alpha)
		for (int32 y = 0; y < 200; y++)
			for (int32 x = 0; x < 700; x++)
				SetWordAt(*bitmap, x, y, WordAt(*bitmap, x, y) | 0xff000000);
	WriteOptions options;
	options.pngCompression = write.compression;
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, Path("written.tif"), options, error)) << error;

	BitmapPtr read = ReadImage(Path("written.tif"), ImageLimits(), error);
	ASSERT_NE(read, nullptr) << error;
	EXPECT_EQ(read->ColorSpace(), write.space);
	EXPECT_EQ(Words(*read), Words(*bitmap));

	TIFF* tiff = TIFFOpen(Path("written.tif").c_str(), "r");
	ASSERT_NE(tiff, nullptr);
	uint16 samples = 0, compression = 0, predictor = PREDICTOR_NONE, extraCount = 0;
	uint16* extra = NULL;
	uint32 rowsPerStrip = 0;
	TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
	TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
	TIFFGetField(tiff, TIFFTAG_PREDICTOR, &predictor);
	TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
	TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
	EXPECT_EQ(samples, alpha ? 4 : 3);
	EXPECT_EQ(extraCount, alpha ? 1 : 0);
	if (alpha && extraCount == 1) {
		EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
	}
	EXPECT_EQ(compression, write.compression == 0 ? COMPRESSION_NONE : COMPRESSION_ADOBE_DEFLATE);
	EXPECT_EQ(predictor, write.compression == 0 ? PREDICTOR_NONE : PREDICTOR_HORIZONTAL);
	size_t stripBytes = (size_t)rowsPerStrip * 700 * samples;
	EXPECT_GE(stripBytes, 64u * 1024);
	EXPECT_LE(stripBytes, 1024u * 1024);
	EXPECT_GT(TIFFNumberOfStrips(tiff), 1u);
	std::vector<uint8> row(TIFFScanlineSize(tiff));
	for (uint32 y = 0; y < 200; y++) {
		ASSERT_EQ(TIFFReadScanline(tiff, row.data(), y), 1);
		for (uint32 x = 0; x < 700; x++) {
			uint32 word = WordAt(*bitmap, x, y);
			uint8 wanted[4] = {(uint8)(word >> 16), (uint8)(word >> 8), (uint8)word,
			                   (uint8)(word >> 24)};
			ASSERT_EQ(memcmp(row.data() + x * samples, wanted, samples), 0)
			    << "(" << x << ", " << y << ")";
		}
	}
	TIFFClose(tiff);
}

INSTANTIATE_TEST_SUITE_P(Levels, TiffWriteTest,
                         ::testing::Values(WriteCase{B_RGB32, 0}, WriteCase{B_RGB32, 1},
                                           WriteCase{B_RGB32, 9}, WriteCase{B_RGBA32, 0},
                                           WriteCase{B_RGBA32, 6}),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
	                         return std::string(info.param.space == B_RGBA32 ? "rgba" : "rgb") +
	                                "_level" + std::to_string(info.param.compression);
                         });

// A stream that takes no more is reported as such.
TEST(TiffWriteErrorTest, FullDeviceIsReported)
{
	BitmapPtr bitmap = MakeBitmap(200, 200, B_RGB32);
	FILE* full = fopen("/dev/full", "we");
	ASSERT_NE(full, nullptr);
	WriteOptions options;
	options.kind = ImageKind::kTiff;
	options.pngCompression = 0;
	std::string error;
	EXPECT_FALSE(WriteImageStream(*bitmap, full, "full", options, error));
	EXPECT_EQ(error, "full: cannot write: No space left on device");
	fclose(full);
}

struct ResolutionCase {
	const char* name;
	ImageMetadata::Resolution written;
	ImageMetadata::Resolution read;
};

class TiffWrittenMetadataTest : public ScratchTest,
                                public ::testing::WithParamInterface<ResolutionCase> {};

// A photograph's metadata go into the file and come back, beside intact pixels: the EXIF data
// go in a structure of their own at the start of the file.
TEST_P(TiffWrittenMetadataTest, KeepsWhatThePhotographCarries)
{
	BitmapPtr bitmap = MakeBitmap(300, 200, B_RGBA32);
	FillRandom(bitmap.get(), 5);
	ImageMetadata written = PhotographMetadata(300, 200, 6);
	written.resolution = GetParam().written;
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, Path("photo.tif"), WriteOptions(), error, &written)) << error;

	ImageLimits asStored;
	asStored.autoOrient = false;
	ImageMetadata read;
	BitmapPtr result = ReadImage(Path("photo.tif"), asStored, error, &read);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(Words(*result), Words(*bitmap));
	EXPECT_EQ(read.orientation, 6);
	EXPECT_EQ(read.iccProfile, written.iccProfile);
	EXPECT_EQ(read.iptc, written.iptc);
	EXPECT_NE(XmpValue(read.xmp, "Xmp.dc.title").find(kTitle), std::string::npos);
	EXPECT_EQ(ExifValue(read.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(ExifValue(read.exif, "Exif.GPSInfo.GPSLatitude"), "48/1 51/1 2970/100");
	EXPECT_EQ(ExifValue(read.exif, "Exif.GPSInfo.GPSLatitudeRef"), "N");
	EXPECT_EQ(ExifValue(read.exif, "Exif.Image.Make"), "Quimbel Test Camera");
	EXPECT_EQ(read.resolution.unit, GetParam().read.unit);
	EXPECT_NEAR(read.resolution.x, GetParam().read.x, 0.01);
	EXPECT_NEAR(read.resolution.y, GetParam().read.y, 0.01);
	EXPECT_TRUE(read.notes.empty());
}

using Unit = ImageMetadata::Resolution;

INSTANTIATE_TEST_SUITE_P(
    Resolutions, TiffWrittenMetadataTest,
    ::testing::Values(
        ResolutionCase{"inch", {Unit::kInch, 300, 150}, {Unit::kInch, 300, 150}},
        ResolutionCase{
            "centimetre", {Unit::kCentimetre, 118.11, 118.11}, {Unit::kCentimetre, 118.11, 118.11}},
        ResolutionCase{"metre", {Unit::kMetre, 11811, 5905.5}, {Unit::kCentimetre, 118.11, 59.055}},
        ResolutionCase{"aspect", {Unit::kAspectOnly, 1, 2}, {Unit::kAspectOnly, 1, 2}},
        ResolutionCase{"none", {Unit::kNone, 0, 0}, {Unit::kNone, 0, 0}}),
    [](const ::testing::TestParamInfo<ResolutionCase>& info) {
	    return std::string(info.param.name);
    });

// The place of tag `tag`'s entry in the first directory of a little-endian TIFF file.
size_t FindEntry(const Bytes& bytes, uint16 tag)
{
	uint32 directory;
	memcpy(&directory, bytes.data() + 4, 4);
	uint16 count;
	memcpy(&count, bytes.data() + directory, 2);
	for (uint16 i = 0; i < count; i++) {
		size_t entry = directory + 2 + i * 12;
		uint16 found;
		memcpy(&found, bytes.data() + entry, 2);
		if (found == tag)
			return entry;
	}
	ADD_FAILURE() << "no tag " << tag;
	return 0;
}

// Gives `tag` one LONG value, or `count` values at `value` when count is not 1.
Bytes WithTag(Bytes bytes, uint16 tag, uint32 value, uint32 count = 1)
{
	size_t entry = FindEntry(bytes, tag);
	uint16 type = TIFF_LONG;
	memcpy(bytes.data() + entry + 2, &type, 2);
	memcpy(bytes.data() + entry + 4, &count, 4);
	memcpy(bytes.data() + entry + 8, &value, 4);
	return bytes;
}

// Sets the first of the LONG values of `tag`, which are out of the entry.
Bytes WithFirstValue(Bytes bytes, uint16 tag, uint32 value)
{
	uint32 values;
	memcpy(&values, bytes.data() + FindEntry(bytes, tag) + 8, 4);
	memcpy(bytes.data() + values, &value, 4);
	return bytes;
}

Bytes Encoded(const TiffImage& image)
{
	char folder[] = "/tmp/tiff-damaged-XXXXXX";
	EXPECT_NE(mkdtemp(folder), nullptr);
	std::string path = std::string(folder) + "/image.tif";
	WriteTiffFile(path, image);
	Bytes bytes = ReadBytes(path);
	remove(path.c_str());
	rmdir(folder);
	return bytes;
}

// A grey image in one strip, so that the strip's offset and size sit in their entries.
Bytes GoodTiff(uint16 compression = COMPRESSION_NONE)
{
	std::vector<uint32> expected;
	TiffImage image = MakeImage(KindOf(Kind::kGrey8), false, expected);
	image.compression = compression;
	image.rowsPerStrip = kHeight;
	return Encoded(image);
}

Bytes GoodTiles()
{
	std::vector<uint32> expected;
	TiffImage image = MakeImage(KindOf(Kind::kGrey8), false, expected);
	image.tiled = true;
	return Encoded(image);
}

Bytes Truncated(Bytes bytes, size_t keep)
{
	bytes.resize(keep);
	return bytes;
}

struct DamagedCase {
	const char* name;
	std::function<Bytes()> make;
	const char* message;
};

const DamagedCase kDamaged[] = {
    {"cut_in_header", [] { return Truncated(GoodTiff(), 6); }, "damaged TIFF data"},
    {"cut_before_directory", [] { return Truncated(GoodTiff(), 200); }, "damaged TIFF data"},
    {"cut_in_directory", [] { return Truncated(GoodTiff(), GoodTiff().size() - 40); },
     "damaged TIFF data"},
    {"deflated_strip_cut_short",
     [] {
	     Bytes bytes = GoodTiff(COMPRESSION_ADOBE_DEFLATE);
	     uint32 stripBytes;
	     memcpy(&stripBytes, bytes.data() + FindEntry(bytes, TIFFTAG_STRIPBYTECOUNTS) + 8, 4);
	     return WithTag(bytes, TIFFTAG_STRIPBYTECOUNTS, stripBytes / 2);
     },
     "damaged TIFF data ("},
    {"100000_square",
     [] {
	     return WithTag(WithTag(GoodTiff(), TIFFTAG_IMAGEWIDTH, 100000), TIFFTAG_IMAGELENGTH,
	                    100000);
     },
     "100000 x 100000 pixels, more than the limit of 16384 pixels a side"},
    {"too_many_pixels",
     [] {
	     return WithTag(WithTag(GoodTiff(), TIFFTAG_IMAGEWIDTH, 16000), TIFFTAG_IMAGELENGTH, 16000);
     },
     "16000 x 16000 pixels, more than the limit of 64000000 pixels"},
    {"strip_past_the_end", [] { return WithTag(GoodTiff(), TIFFTAG_STRIPOFFSETS, 1 << 20); },
     "truncated TIFF data (strip 0 ends past the end of the file)"},
    {"tile_past_the_end", [] { return WithFirstValue(GoodTiles(), TIFFTAG_TILEOFFSETS, 1 << 20); },
     "truncated TIFF data (tile 0 ends past the end of the file)"},
    {"zero_strips", [] { return WithTag(GoodTiff(), TIFFTAG_STRIPOFFSETS, 0, 0); },
     "damaged TIFF data (strip 0 has no offset)"},
    {"huge_tiles",
     [] {
	     return WithTag(WithTag(GoodTiles(), TIFFTAG_TILEWIDTH, 1 << 16), TIFFTAG_TILELENGTH,
	                    1 << 16);
     },
     "damaged TIFF data (tiles of 65536 x 65536 pixels, far larger than the image)"},
    {"7_bits_a_sample", [] { return WithTag(GoodTiff(), TIFFTAG_BITSPERSAMPLE, 7); },
     "unsupported TIFF layout (7 bits a sample)"},
    {"0_bits_a_sample", [] { return WithTag(GoodTiff(), TIFFTAG_BITSPERSAMPLE, 0); },
     "damaged TIFF data"},
    {"lab_colour", [] { return WithTag(GoodTiff(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB); },
     "unsupported TIFF colour model (CIE L*a*b*)"},
};

void PrintTo(const DamagedCase& damaged, std::ostream* out)
{
	*out << damaged.name;
}

class TiffDamagedTest : public ScratchTest, public ::testing::WithParamInterface<DamagedCase> {};

// A damaged file gives no bitmap, nothing on standard error and one message that names the file
// and what is wrong; a size past the limits is refused before pixel memory is asked for.
TEST_P(TiffDamagedTest, IsRefusedWithOneMessage)
{
	const DamagedCase& damaged = GetParam();
	WriteBytes(Path("damaged.tif"), damaged.make());
	bool admitted = false;
	ImageLimits limits;
	limits.admit = [&](int64, int64, std::string&) { return admitted = true; };
	std::string error;
	::testing::internal::CaptureStderr();
	BitmapPtr bitmap = ReadImage(Path("damaged.tif"), limits, error);
	std::string printed = ::testing::internal::GetCapturedStderr();
	EXPECT_EQ(bitmap, nullptr);
	EXPECT_EQ(error.rfind(Path("damaged.tif") + ": ", 0), 0u) << error;
	EXPECT_NE(error.find(damaged.message), std::string::npos) << error;
	EXPECT_EQ(error.find('\n'), std::string::npos) << error;
	EXPECT_EQ(printed, "");
	// Sizes past the limits are refused in the words every kind of file gets.
	if (strstr(damaged.message, "limit") != NULL) {
		EXPECT_FALSE(admitted);
	} else {
		EXPECT_NE(error.find("TIFF"), std::string::npos) << error;
	}
}

INSTANTIATE_TEST_SUITE_P(Files, TiffDamagedTest, ::testing::ValuesIn(kDamaged),
                         [](const ::testing::TestParamInfo<DamagedCase>& info) {
	                         return std::string(info.param.name);
                         });

// Files read at once on several threads each get libtiff's messages about themselves only.
TEST_F(TiffMetadataTest, ThreadsGetTheirOwnMessages)
{
	const std::vector<std::pair<std::string, Bytes>> files = {
	    {"good.tif", GoodTiff(COMPRESSION_LZW)},
	    {"cut_in_header.tif", Truncated(GoodTiff(), 6)},
	    {"header_only.tif", Truncated(GoodTiff(), 8)},
	    {"cut_short.tif", Truncated(GoodTiff(), 200)},
	};
	std::vector<std::string> errors;
	for (const auto& file : files) {
		WriteBytes(Path(file.first), file.second);
		std::string error;
		ReadImage(Path(file.first), ImageLimits(), error);
		errors.push_back(error);
	}
	ASSERT_EQ(errors[0], "");
	ASSERT_NE(errors[1], errors[2]);
	std::vector<std::thread> threads;
	std::vector<int> failures(4, 0);
	for (int t = 0; t < 4; t++) {
		threads.emplace_back([&, t] {
			for (int i = 0; i < 200; i++) {
				size_t which = (size_t)(i + t) % files.size();
				std::string error;
				BitmapPtr bitmap = ReadImage(Path(files[which].first), ImageLimits(), error);
				if ((bitmap != nullptr) != (which == 0) || error != errors[which])
					failures[t]++;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
