// The raw profile texts in which tools store EXIF, IPTC and XMP in PNG files are read as the
// image's EXIF, IPTC and XMP, damaged ones are ignored, and IPTC is written in the form exiv2
// reads.
#include <exiv2/exiv2.hpp>
#include <png.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "Metadata.h"
#include "MetadataSupport.h"
#include "PngRawProfile.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

// Photoshop's image resources holding only `iptc`, built here byte by byte.
std::vector<uint8> Resources(const std::vector<uint8>& iptc)
{
	std::vector<uint8> resources = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};
	uint32 size = (uint32)iptc.size();
	for (int shift = 24; shift >= 0; shift -= 8)
		resources.push_back((uint8)(size >> shift));
	resources.insert(resources.end(), iptc.begin(), iptc.end());
	if (iptc.size() % 2 != 0)
		resources.push_back(0);
	return resources;
}

// A 3 x 2 picture of distinct pixels with the given text chunks.
PngImage Picture(const std::vector<std::pair<std::string, std::string>>& texts)
{
	PngImage image;
	image.width = 3;
	image.height = 2;
	image.colorType = PNG_COLOR_TYPE_RGB;
	image.rows = {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18}};
	image.texts = texts;
	return image;
}

// The text of a raw profile is its type, its size and the bytes in hex, 36 a line.
TEST(RawProfileText, IsTheTypeTheSizeAndTheHex)
{
	EXPECT_EQ(RawProfileText("iptc", {0x1c, 0x02, 0xff}), "\niptc\n       3\n1c02ff\n");
	std::string line;
	for (int i = 0; i < 36; i++)
		line += "ab";
	EXPECT_EQ(RawProfileText("exif", std::vector<uint8>(37, 0xab)),
	          "\nexif\n      37\n" + line + "\nab\n");
}

class RawProfileRoundTrip : public ::testing::TestWithParam<size_t> {};

// What RawProfileText() writes, RawProfileData() reads back, whatever its size.
TEST_P(RawProfileRoundTrip, GivesBackTheData)
{
	std::vector<uint8> data(GetParam());
	for (size_t i = 0; i < data.size(); i++)
		data[i] = (uint8)(i * 73 + 5);
	std::vector<uint8> read = {1, 2, 3};
	ASSERT_TRUE(RawProfileData(RawProfileText("exif", data), read));
	EXPECT_EQ(read, data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RawProfileRoundTrip, ::testing::Values(0, 1, 35, 36, 37, 1000));

class DamagedRawProfile : public ::testing::TestWithParam<const char*> {};

// A text that is no sound raw profile gives no data at all.
TEST_P(DamagedRawProfile, GivesNothing)
{
	std::vector<uint8> data;
	EXPECT_FALSE(RawProfileData(GetParam(), data));
	EXPECT_TRUE(data.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, DamagedRawProfile,
                         ::testing::Values("", "\nexif", "\nexif\n", "\nexif\n   x\n00\n",
                                           // Not hex, or half a byte.
                                           "\nexif\n   2\n0g01\n", "\nexif\n   2\n0a0\n",
                                           "\nexif\n   1\n0-\n",
                                           // More or fewer bytes than the size says.
                                           "\nexif\n   4\n0102\n", "\nexif\n   1\n0102\n",
                                           // A size no text could hold.
                                           "\nexif\n99999999999999999999\n00\n",
                                           "\nexif\n4294967298\n00\n"));

struct ExifProfile {
	const char* keyword;
	bool header;
};

void PrintTo(const ExifProfile& profile, std::ostream* out)
{
	*out << profile.keyword << (profile.header ? " with Exif header" : "");
}

class RawExifProfile : public ScratchTest, public ::testing::WithParamInterface<ExifProfile> {};

// A PNG whose EXIF, saying orientation 6, is in a raw profile is read standing, with the EXIF, as
// one with an eXIf chunk is; the profile is not kept as text.
TEST_P(RawExifProfile, IsTheImagesExif)
{
	std::vector<uint8> exif = PhotographMetadata(3, 2, 6).exif;
	std::vector<uint8> data = exif;
	if (GetParam().header)
		data.insert(data.begin(), {'E', 'x', 'i', 'f', 0, 0});
	WritePngFile(Path("sideways.png"),
	             Picture({{GetParam().keyword, RawProfileText("exif", data)}}));

	ImageMetadata metadata;
	std::string error;
	std::unique_ptr<BBitmap> bitmap =
	    ReadImage(Path("sideways.png"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(bitmap->Bounds(), BRect(0, 0, 1, 2));
	// Orientation 6 shows the stored pixel (x, y) at (1 - y, x).
	EXPECT_EQ(WordAt(*bitmap, 1, 0), Word(1, 2, 3, 255));
	EXPECT_EQ(WordAt(*bitmap, 0, 2), Word(16, 17, 18, 255));
	EXPECT_EQ(metadata.exif, exif);
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_TRUE(metadata.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Keywords, RawExifProfile,
                         ::testing::Values(ExifProfile{"Raw profile type exif", true},
                                           ExifProfile{"Raw profile type exif", false},
                                           ExifProfile{"Raw profile type APP1", true}));

class DamagedRawExifProfile : public ScratchTest, public ::testing::WithParamInterface<int> {};

// A damaged raw profile is dropped: the picture is read as stored, without EXIF, and the profile
// is not passed on as text either.
TEST_P(DamagedRawExifProfile, IsIgnored)
{
	std::string text = RawProfileText("exif", PhotographMetadata(3, 2, 6).exif);
	switch (GetParam()) {
	case 0:
		text[text.size() - 3] = 'x';
		break;
	case 1:
		text.replace(text.find("\n", 1) + 1, 8, "  999999");
		break;
	case 2:
		text.replace(text.find("\n", 1) + 1, 8, "       4");
		break;
	default:
		// Sound hex of what is no EXIF.
		text = RawProfileText("exif", {'M', 'M', 0, 0, 1, 2, 3});
		break;
	}
	WritePngFile(Path("damaged.png"), Picture({{"Raw profile type exif", text}}));

	ImageMetadata metadata;
	std::string error;
	std::unique_ptr<BBitmap> bitmap =
	    ReadImage(Path("damaged.png"), ImageLimits(), error, &metadata);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(bitmap->Bounds(), BRect(0, 0, 2, 1));
	EXPECT_TRUE(metadata.exif.empty());
	EXPECT_EQ(metadata.orientation, 1);
	EXPECT_TRUE(metadata.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(BadHexLyingSizesAndNoExif, DamagedRawExifProfile,
                         ::testing::Values(0, 1, 2, 3));

// The eXIf chunk is the PNG's own place for EXIF: a raw profile beside it does not replace it.
TEST_F(ScratchTest, RawExifProfileDoesNotReplaceTheExifChunk)
{
	ImageMetadata both;
	both.exif = PhotographMetadata(3, 2, 1).exif;
	both.texts.push_back(
	    {"Raw profile type exif", RawProfileText("exif", PhotographMetadata(3, 2, 6).exif), false});
	BitmapPtr bitmap = MakeBitmap(3, 2, B_RGB32);
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, Path("both.png"), WriteOptions(), error, &both)) << error;

	ImageMetadata read;
	std::unique_ptr<BBitmap> stored = ReadImage(Path("both.png"), ImageLimits(), error, &read);
	ASSERT_NE(stored, nullptr) << error;
	EXPECT_EQ(stored->Bounds(), BRect(0, 0, 2, 1));
	EXPECT_EQ(ExifValue(read.exif, "Exif.Image.Orientation"), "1");
	EXPECT_TRUE(read.texts.empty());
}

// An XMP raw profile is the image's XMP, and is mended as any XMP is: made true of a picture of
// another size.
TEST_F(ScratchTest, RawXmpProfileIsTheImagesXmp)
{
	std::string xmp = PhotographMetadata(3, 2).xmp;
	WritePngFile(
	    Path("described.png"),
	    Picture({{"Raw profile type xmp", RawProfileText("xmp", Bytes(xmp.begin(), xmp.end()))}}));
	ImageMetadata metadata;
	std::string error;
	ASSERT_NE(ReadImage(Path("described.png"), ImageLimits(), error, &metadata), nullptr) << error;
	EXPECT_EQ(metadata.xmp, xmp);
	EXPECT_TRUE(metadata.texts.empty());
	ImageMetadata mended = MendedMetadata(metadata, 6, 4);
	EXPECT_EQ(XmpValue(mended.xmp, "Xmp.exif.PixelXDimension"), "6");
	EXPECT_EQ(XmpValue(mended.xmp, "Xmp.exif.PixelYDimension"), "4");
}

class XmpChunkAndRawProfile : public ScratchTest, public ::testing::WithParamInterface<bool> {};

// The PNG's own XMP chunk wins over an XMP raw profile, before or after it, and neither is
// kept as text to be written again beside the XMP.
TEST_P(XmpChunkAndRawProfile, TheChunkWins)
{
	std::string chunk = PhotographMetadata(3, 2).xmp;
	std::string raw = PhotographMetadata(30, 20).xmp;
	std::pair<std::string, std::string> texts[] = {
	    {"XML:com.adobe.xmp", chunk},
	    {"Raw profile type xmp", RawProfileText("xmp", Bytes(raw.begin(), raw.end()))}};
	if (GetParam())
		std::swap(texts[0], texts[1]);
	WritePngFile(Path("both.png"), Picture({texts[0], texts[1]}));
	ImageMetadata metadata;
	std::string error;
	ASSERT_NE(ReadImage(Path("both.png"), ImageLimits(), error, &metadata), nullptr) << error;
	EXPECT_EQ(metadata.xmp, chunk);
	EXPECT_TRUE(metadata.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(EitherOrder, XmpChunkAndRawProfile, ::testing::Bool());

struct IptcProfile {
	const char* name;
	std::vector<uint8> (*data)(const std::vector<uint8>& iptc);
};

void PrintTo(const IptcProfile& profile, std::ostream* out)
{
	*out << profile.name;
}

class RawIptcProfile : public ScratchTest, public ::testing::WithParamInterface<IptcProfile> {};

// The IPTC raw profile, in each form tools write it, is the image's IPTC.
TEST_P(RawIptcProfile, IsTheImagesIptc)
{
	std::vector<uint8> iptc = PhotographMetadata(3, 2).iptc;
	WritePngFile(Path("captioned.png"), Picture({{"Raw profile type iptc",
	                                              RawProfileText("iptc", GetParam().data(iptc))}}));
	ImageMetadata metadata;
	std::string error;
	ASSERT_NE(ReadImage(Path("captioned.png"), ImageLimits(), error, &metadata), nullptr) << error;
	EXPECT_EQ(metadata.iptc, iptc);
	EXPECT_EQ(IptcValue(metadata.iptc, "Iptc.Application2.Caption"), kCaption);
	EXPECT_TRUE(metadata.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RawIptcProfile,
    ::testing::Values(IptcProfile{"PhotoshopResources", Resources},
                      IptcProfile{"PhotoshopSegment",
                                  [](const std::vector<uint8>& iptc) {
	                                  std::vector<uint8> data = {'P', 'h', 'o', 't', 'o', 's', 'h',
	                                                             'o', 'p', ' ', '3', '.', '0', 0};
	                                  std::vector<uint8> resources = Resources(iptc);
	                                  data.insert(data.end(), resources.begin(), resources.end());
	                                  return data;
                                  }},
                      IptcProfile{"Records", [](const std::vector<uint8>& iptc) { return iptc; }}),
    [](const ::testing::TestParamInfo<IptcProfile>& info) { return std::string(info.param.name); });

// IPTC written to PNG is what exiv2 reads from the file, and the file stays one libpng reads
// without a complaint; IPTC that exiv2 writes to a PNG is read the same.
TEST_F(ScratchTest, PngIptcIsWhatExiv2ReadsAndWrites)
{
	BitmapPtr bitmap = MakeBitmap(3, 2, B_RGB32);
	FillRandom(bitmap.get(), 3);
	ImageMetadata metadata;
	metadata.iptc = PhotographMetadata(3, 2).iptc;
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, Path("ours.png"), WriteOptions(), error, &metadata)) << error;
	EXPECT_EQ(FileValue(Path("ours.png"), "Iptc.Application2.Caption"), kCaption);
	EXPECT_EQ(FileValue(Path("ours.png"), "Iptc.Application2.Keywords"),
	          std::string(kKeywords[0]) + ", " + kKeywords[1]);
	EXPECT_EQ(FileValue(Path("ours.png"), "Iptc.Application2.Copyright"), kCopyright);

	png_image image = {};
	image.version = PNG_IMAGE_VERSION;
	ASSERT_TRUE(png_image_begin_read_from_file(&image, Path("ours.png").c_str())) << image.message;
	image.format = PNG_FORMAT_RGBA;
	std::vector<uint8> pixels(PNG_IMAGE_SIZE(image));
	EXPECT_TRUE(png_image_finish_read(&image, NULL, pixels.data(), 0, NULL)) << image.message;
	EXPECT_EQ(image.warning_or_error, 0u) << image.message;

	// IPTC long enough for its text to be compressed (zTXt) is read the same.
	Exiv2::IptcData longIptc;
	std::string caption(1500, 'w');
	longIptc["Iptc.Application2.Caption"] = caption;
	Exiv2::DataBuf records = Exiv2::IptcParser::encode(longIptc);
	metadata.iptc.assign(records.pData_, records.pData_ + records.size_);
	ASSERT_TRUE(WriteImage(*bitmap, Path("long.png"), WriteOptions(), error, &metadata)) << error;
	EXPECT_EQ(FileValue(Path("long.png"), "Iptc.Application2.Caption"), caption);

	WritePngFile(Path("theirs.png"), Picture({}));
	Exiv2::IptcData iptc;
	iptc["Iptc.Application2.Caption"] = kCaption;
	iptc["Iptc.Application2.Copyright"] = kCopyright;
	Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(Path("theirs.png"));
	file->setIptcData(iptc);
	file->writeMetadata();
	ImageMetadata read;
	ASSERT_NE(ReadImage(Path("theirs.png"), ImageLimits(), error, &read), nullptr) << error;
	EXPECT_EQ(IptcValue(read.iptc, "Iptc.Application2.Caption"), kCaption);
	EXPECT_EQ(IptcValue(read.iptc, "Iptc.Application2.Copyright"), kCopyright);
	EXPECT_TRUE(read.texts.empty());
}

} // namespace
