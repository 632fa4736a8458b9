// What a photograph carries besides its pixels reaches the files written from it in every kind
// that has a place for it, made true of the picture written.
#include <cmath>

#include <exiv2/exiv2.hpp>

#include "ImageFile.h"
#include "Metadata.h"
#include "MetadataSupport.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

// The source was 40 x 30 and stored turned (orientation 6); it was read upright, so its pixels
// now stand as orientation 1 says, and a filter then halved it.
TEST(MendedMetadata, MakesSizesAndOrientationTrueAndDropsTheThumbnail)
{
	ImageMetadata source = PhotographMetadata(40, 30, 6);
	source.orientation = 1;
	ASSERT_TRUE(HasThumbnail(source.exif));

	ImageMetadata mended = MendedMetadata(source, 15, 20);
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Photo.PixelXDimension"), "15");
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Photo.PixelYDimension"), "20");
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Image.Orientation"), "1");
	EXPECT_FALSE(HasThumbnail(mended.exif));
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(ExifValue(mended.exif, "Exif.GPSInfo.GPSLatitude"), "48/1 51/1 2970/100");
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Image.Make"), "Quimbel Test Camera");

	EXPECT_EQ(XmpValue(mended.xmp, "Xmp.tiff.Orientation"), "1");
	EXPECT_EQ(XmpValue(mended.xmp, "Xmp.exif.PixelXDimension"), "15");
	EXPECT_EQ(XmpValue(mended.xmp, "Xmp.exif.PixelYDimension"), "20");
	EXPECT_NE(XmpValue(mended.xmp, "Xmp.dc.title").find(kTitle), std::string::npos);

	// Nothing else is touched.
	EXPECT_EQ(mended.iptc, source.iptc);
	EXPECT_EQ(mended.iccProfile, source.iccProfile);
}

TEST(MendedMetadata, KeepsWhatIsTrueByteForByte)
{
	ImageMetadata once = MendedMetadata(PhotographMetadata(40, 30), 40, 30);
	ImageMetadata twice = MendedMetadata(once, 40, 30);
	EXPECT_EQ(twice.exif, once.exif);
	EXPECT_EQ(twice.xmp, once.xmp);
}

// Pixels left as stored need their orientation said, even when the file had no EXIF at all.
TEST(MendedMetadata, SaysTheOrientationOfPixelsLeftAsStored)
{
	ImageMetadata source;
	source.orientation = 8;
	ImageMetadata mended = MendedMetadata(source, 10, 20);
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Image.Orientation"), "8");

	source.orientation = 1;
	EXPECT_TRUE(MendedMetadata(source, 10, 20).exif.empty());
}

TEST(MendedMetadata, DropsExifTooDamagedToMend)
{
	ImageMetadata source = PhotographMetadata(40, 30);
	// A directory that claims more entries than the data hold, then cut short.
	source.exif.resize(12);
	source.exif[8] = 0xff;
	source.exif[9] = 0xff;
	ImageMetadata mended = MendedMetadata(source, 20, 15);
	EXPECT_EQ(ExifValue(mended.exif, "Exif.Photo.PixelXDimension"), "");
	EXPECT_FALSE(mended.exif.size() > 12);
}

// IPTC goes into XMP as the properties that mirror it, beside what the XMP had.
TEST(XmpWithIptc, AddsTheMirroredPropertiesAndKeepsTheRest)
{
	ImageMetadata source = PhotographMetadata(40, 30);
	std::string xmp = XmpWithIptc(source.xmp, source.iptc);
	EXPECT_NE(XmpValue(xmp, "Xmp.dc.title").find(kTitle), std::string::npos);
	EXPECT_EQ(XmpValue(xmp, "Xmp.tiff.Orientation"), "1");
	EXPECT_NE(XmpValue(xmp, "Xmp.dc.description").find(kCaption), std::string::npos);
	EXPECT_EQ(XmpValue(xmp, "Xmp.dc.subject"), std::string(kKeywords[0]) + ", " + kKeywords[1]);
	EXPECT_EQ(XmpValue(xmp, "Xmp.dc.creator"), kByline);
	EXPECT_NE(XmpValue(xmp, "Xmp.dc.rights").find(kCopyright), std::string::npos);

	// With no XMP to start from, the mirrored properties alone.
	std::string alone = XmpWithIptc("", source.iptc);
	EXPECT_NE(XmpValue(alone, "Xmp.dc.description").find(kCaption), std::string::npos);
	EXPECT_EQ(XmpValue(alone, "Xmp.dc.title"), "");
}

// XMP that mirrors the IPTC already, or says something of its own for a property, is kept as it
// is: nothing is added twice or overwritten.
TEST(XmpWithIptc, KeepsWhatTheXmpSaysAlready)
{
	ImageMetadata source = PhotographMetadata(40, 30);
	std::string mirrored = XmpWithIptc(source.xmp, source.iptc);
	EXPECT_EQ(XmpWithIptc(mirrored, source.iptc), mirrored);

	Exiv2::XmpData own;
	own["Xmp.dc.description"] = "lang=\"x-default\" A different caption";
	std::string packet;
	ASSERT_EQ(Exiv2::XmpParser::encode(packet, own), 0);
	std::string merged = XmpWithIptc(packet, source.iptc);
	EXPECT_NE(XmpValue(merged, "Xmp.dc.description").find("A different caption"),
	          std::string::npos);
	EXPECT_EQ(XmpValue(merged, "Xmp.dc.description").find(kCaption), std::string::npos);
	EXPECT_NE(XmpValue(merged, "Xmp.dc.rights").find(kCopyright), std::string::npos);
}

// IPTC or XMP that cannot be read leaves the XMP as it was.
TEST(XmpWithIptc, LeavesTheXmpWhenEitherIsDamaged)
{
	ImageMetadata source = PhotographMetadata(40, 30);
	std::vector<uint8> damaged = source.iptc;
	damaged.resize(damaged.size() - 3);
	damaged[4] = 0xff;
	EXPECT_EQ(XmpWithIptc(source.xmp, damaged), source.xmp);
	EXPECT_EQ(XmpWithIptc(source.xmp, {}), source.xmp);
	EXPECT_EQ(XmpWithIptc("<x:xmpmeta", source.iptc), "<x:xmpmeta");
}

struct KindCase {
	const char* extension;
	// Whether IPTC is kept as IPTC; otherwise as the XMP that mirrors it.
	bool iptc;
	bool texts;
	bool resolution;
};

void PrintTo(const KindCase& kind, std::ostream* out)
{
	*out << kind.extension;
}

class MetadataRoundTrip : public ScratchTest, public ::testing::WithParamInterface<KindCase> {};

// Written with a file and read back, the metadata are all there, and the profile and what needs
// no mending are byte for byte the same.
TEST_P(MetadataRoundTrip, KeepsWhatThePhotographCarries)
{
	const KindCase& kind = GetParam();
	BitmapPtr bitmap = MakeBitmap(40, 30, B_RGB32);
	FillRandom(bitmap.get(), 7);
	for (int32 y = 0; y < 30; y++)
		for (int32 x = 0; x < 40; x++)
			SetWordAt(*bitmap, x, y, WordAt(*bitmap, x, y) | 0xff000000);
	ImageMetadata written = PhotographMetadata(40, 30);
	std::string path = Path(std::string("photograph.") + kind.extension);
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, path, WriteOptions(), error, &written)) << error;

	ImageMetadata read;
	ASSERT_NE(ReadImage(path, ImageLimits(), error, &read), nullptr) << error;
	EXPECT_EQ(read.iccProfile, written.iccProfile);
	EXPECT_EQ(ExifValue(read.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(ExifValue(read.exif, "Exif.GPSInfo.GPSLatitude"), "48/1 51/1 2970/100");
	EXPECT_EQ(ExifValue(read.exif, "Exif.GPSInfo.GPSLatitudeRef"), "N");
	EXPECT_FALSE(HasThumbnail(read.exif));
	EXPECT_NE(XmpValue(read.xmp, "Xmp.dc.title").find(kTitle), std::string::npos);
	if (kind.iptc) {
		EXPECT_EQ(IptcValue(read.iptc, "Iptc.Application2.Caption"), kCaption);
		EXPECT_EQ(IptcValue(read.iptc, "Iptc.Application2.Copyright"), kCopyright);
	} else {
		EXPECT_NE(XmpValue(read.xmp, "Xmp.dc.description").find(kCaption), std::string::npos);
		EXPECT_NE(XmpValue(read.xmp, "Xmp.dc.rights").find(kCopyright), std::string::npos);
	}
	if (kind.texts) {
		ASSERT_EQ(read.texts.size(), 1u);
		EXPECT_EQ(read.texts[0].keyword, "Comment");
		EXPECT_EQ(read.texts[0].text, "taken from the pier");
	}
	if (kind.resolution) {
		double perInch = read.resolution.x;
		if (read.resolution.unit == ImageMetadata::Resolution::kMetre)
			perInch *= 0.0254;
		else if (read.resolution.unit == ImageMetadata::Resolution::kCentimetre)
			perInch *= 2.54;
		else
			EXPECT_EQ(read.resolution.unit, ImageMetadata::Resolution::kInch);
		EXPECT_LT(std::fabs(perInch - 300), 0.1);
	}
}

INSTANTIATE_TEST_SUITE_P(EveryKindWritten, MetadataRoundTrip,
                         ::testing::Values(KindCase{"png", true, true, true},
                                           KindCase{"jpg", true, false, true},
                                           KindCase{"webp", false, false, false},
                                           KindCase{"tif", true, false, true},
                                           KindCase{"avif", false, false, false}),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
	                         return std::string(info.param.extension);
                         });

} // namespace
