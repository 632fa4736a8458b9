// A photograph's profile and metadata go through every filter to every kind of file written,
// made true of the result, unless --strip; and photographs stored turned come out standing.
#include <algorithm>

#include <png.h>

#include "CliSupport.h"
#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "MetadataSupport.h"
#include "PngRawProfile.h"
#include "TestSupport.h"

namespace {

const std::vector<std::string> kWritableKinds = {"png", "jpg", "webp", "tif", "avif"};

// A small opaque photograph in `path`, of the kind its extension names, carrying
// PhotographMetadata() with `orientation`.
void WritePhotograph(const std::string& path, int32 width, int32 height, int orientation = 1)
{
	BitmapPtr bitmap = MakeBitmap(width, height, B_RGB32);
	FillRandom(bitmap.get(), 11);
	for (int32 y = 0; y < height; y++)
		for (int32 x = 0; x < width; x++)
			SetWordAt(*bitmap, x, y, WordAt(*bitmap, x, y) | 0xff000000);
	ImageMetadata metadata = PhotographMetadata(width, height, orientation);
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, path, WriteOptions(), error, &metadata)) << error;
}

class KeepsMetadata : public CliTest,
                      public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

TEST_P(KeepsMetadata, ThroughTheFilter)
{
	auto [addonFile, kind] = GetParam();
	std::string input = Path("photograph." + kind);
	std::string output = Path("result." + kind);
	WritePhotograph(input, 24, 16);
	ImageMetadata source;
	std::string error;
	ASSERT_NE(ReadImage(input, ImageLimits(), error, &source), nullptr) << error;

	RunResult run = RunQuimbel({"apply", addonFile, input, output});
	ASSERT_EQ(run.status, 0) << run.err;
	ImageMetadata kept;
	std::unique_ptr<BBitmap> result = ReadImage(output, ImageLimits(), error, &kept);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(kept.iccProfile, source.iccProfile);
	EXPECT_EQ(ExifValue(kept.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(ExifValue(kept.exif, "Exif.GPSInfo.GPSLatitude"), "48/1 51/1 2970/100");
	EXPECT_EQ(ExifValue(kept.exif, "Exif.Photo.PixelXDimension"),
	          std::to_string(result->Bounds().IntegerWidth() + 1));
	EXPECT_EQ(ExifValue(kept.exif, "Exif.Photo.PixelYDimension"),
	          std::to_string(result->Bounds().IntegerHeight() + 1));
	EXPECT_NE(XmpValue(kept.xmp, "Xmp.dc.title").find(kTitle), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryAddonAndKind, KeepsMetadata,
                         ::testing::Combine(::testing::ValuesIn(BuiltAddonFiles()),
                                            ::testing::ValuesIn(kWritableKinds)),
                         [](const auto& info) {
	                         std::string name =
	                             std::get<0>(info.param) + "_" + std::get<1>(info.param);
	                         std::replace_if(
	                             name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
	                         return name;
                         });

struct IptcPlace {
	const char* kind;
	// Where exiv2 finds the caption, keywords and copyright in the file: the IPTC records, or the
	// XMP properties that mirror them in the kinds that have no place for IPTC.
	const char* caption;
	const char* keywords;
	const char* copyright;
};

void PrintTo(const IptcPlace& place, std::ostream* out)
{
	*out << place.kind;
}

class KeepsIptc : public CliTest, public ::testing::WithParamInterface<IptcPlace> {};

// A photograph's caption, keywords and copyright come out of a filter in every kind, read by
// exiv2 from the file itself.
TEST_P(KeepsIptc, ThroughTheFilter)
{
	const IptcPlace& place = GetParam();
	std::string input = Path("photograph.jpg");
	std::string output = Path(std::string("result.") + place.kind);
	WritePhotograph(input, 24, 16);
	ASSERT_EQ(FileValue(input, "Iptc.Application2.Caption"), kCaption);

	RunResult run = RunQuimbel({"apply", "Negative", input, output});
	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_NE(FileValue(output, place.caption).find(kCaption), std::string::npos);
	EXPECT_EQ(FileValue(output, place.keywords), std::string(kKeywords[0]) + ", " + kKeywords[1]);
	EXPECT_NE(FileValue(output, place.copyright).find(kCopyright), std::string::npos);
	// What the XMP said itself is still there.
	EXPECT_NE(FileValue(output, "Xmp.dc.title").find(kTitle), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, KeepsIptc,
    ::testing::Values(IptcPlace{"png", "Iptc.Application2.Caption", "Iptc.Application2.Keywords",
                                "Iptc.Application2.Copyright"},
                      IptcPlace{"webp", "Xmp.dc.description", "Xmp.dc.subject", "Xmp.dc.rights"},
                      IptcPlace{"avif", "Xmp.dc.description", "Xmp.dc.subject", "Xmp.dc.rights"}),
    [](const ::testing::TestParamInfo<IptcPlace>& info) { return std::string(info.param.kind); });

class StripsMetadata : public CliTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(StripsMetadata, LeavesNothingButPixels)
{
	std::string input = Path("photograph.jpg");
	std::string output = Path("bare." + GetParam());
	WritePhotograph(input, 24, 16);
	RunResult run = RunQuimbel({"apply", "Negative", input, output, "--strip"});
	ASSERT_EQ(run.status, 0) << run.err;
	ImageMetadata bare;
	std::string error;
	ASSERT_NE(ReadImage(output, ImageLimits(), error, &bare), nullptr) << error;
	EXPECT_TRUE(bare.iccProfile.empty());
	EXPECT_TRUE(bare.exif.empty());
	EXPECT_TRUE(bare.xmp.empty());
	EXPECT_TRUE(bare.iptc.empty());
	EXPECT_TRUE(bare.texts.empty());
	// The bytes themselves: no trace of the date or the title anywhere in the file.
	Bytes file = ReadBytes(output);
	std::string bytes(file.begin(), file.end());
	EXPECT_EQ(bytes.find(kCaptureDate), std::string::npos);
	EXPECT_EQ(bytes.find(kTitle), std::string::npos);
	EXPECT_EQ(bytes.find(kCaption), std::string::npos);
	EXPECT_EQ(bytes.find(kCopyright), std::string::npos);
	EXPECT_EQ(FileValue(output, "Iptc.Application2.Caption"), "");
	EXPECT_EQ(FileValue(output, "Xmp.dc.description"), "");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, StripsMetadata, ::testing::ValuesIn(kWritableKinds));

// A photograph stored turned a quarter comes out standing, saying orientation 1; with
// --no-auto-orient its pixels stay as stored and the output keeps saying how to turn them.
TEST_F(CliTest, TurnsPhotographsUprightUnlessAsked)
{
	std::string input = Path("sideways.jpg");
	WritePhotograph(input, 24, 16, 6);
	RunResult upright = RunQuimbel({"apply", "CopyThrough", input, Path("upright.png")});
	ASSERT_EQ(upright.status, 0) << upright.err;
	RunResult stored =
	    RunQuimbel({"apply", "CopyThrough", input, Path("stored.png"), "--no-auto-orient"});
	ASSERT_EQ(stored.status, 0) << stored.err;

	ImageLimits asStored;
	asStored.autoOrient = false;
	std::string error;
	ImageMetadata uprightMetadata;
	std::unique_ptr<BBitmap> uprightBitmap =
	    ReadImage(Path("upright.png"), asStored, error, &uprightMetadata);
	ASSERT_NE(uprightBitmap, nullptr) << error;
	EXPECT_EQ(uprightBitmap->Bounds().IntegerWidth() + 1, 16);
	EXPECT_EQ(uprightBitmap->Bounds().IntegerHeight() + 1, 24);
	EXPECT_EQ(uprightMetadata.orientation, 1);
	EXPECT_EQ(ExifValue(uprightMetadata.exif, "Exif.Image.Orientation"), "1");

	ImageMetadata storedMetadata;
	std::unique_ptr<BBitmap> storedBitmap =
	    ReadImage(Path("stored.png"), asStored, error, &storedMetadata);
	ASSERT_NE(storedBitmap, nullptr) << error;
	EXPECT_EQ(storedBitmap->Bounds().IntegerWidth() + 1, 24);
	EXPECT_EQ(storedMetadata.orientation, 6);
	// Read upright, the two are the same picture.
	std::unique_ptr<BBitmap> turned = ReadImage(Path("stored.png"), ImageLimits(), error);
	ASSERT_NE(turned, nullptr) << error;
	EXPECT_TRUE(Words(*turned) == Words(*uprightBitmap));
}

// A PNG whose EXIF is in a raw profile text, as several tools write it, saying orientation 6,
// comes out standing and saying orientation 1.
TEST_F(CliTest, TurnsPngWithRawProfileExifUpright)
{
	PngImage image;
	image.width = 3;
	image.height = 2;
	image.colorType = PNG_COLOR_TYPE_RGB;
	image.rows = {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18}};
	std::vector<uint8> exif = {'E', 'x', 'i', 'f', 0, 0};
	std::vector<uint8> tiff = PhotographMetadata(3, 2, 6).exif;
	exif.insert(exif.end(), tiff.begin(), tiff.end());
	image.texts = {{"Raw profile type exif", RawProfileText("exif", exif)}};
	WritePngFile(Path("sideways.png"), image);

	RunResult run = RunQuimbel({"apply", "CopyThrough", Path("sideways.png"), Path("upright.png")});
	ASSERT_EQ(run.status, 0) << run.err;
	ImageLimits asStored;
	asStored.autoOrient = false;
	ImageMetadata metadata;
	std::string error;
	std::unique_ptr<BBitmap> upright = ReadImage(Path("upright.png"), asStored, error, &metadata);
	ASSERT_NE(upright, nullptr) << error;
	ASSERT_EQ(upright->Bounds(), BRect(0, 0, 1, 2));
	// Orientation 6 shows the stored pixel (x, y) at (1 - y, x).
	for (int32 y = 0; y < 2; y++) {
		for (int32 x = 0; x < 3; x++) {
			const uint8* stored = image.rows[y].data() + x * 3;
			EXPECT_EQ(WordAt(*upright, 1 - y, x), Word(stored[0], stored[1], stored[2], 255));
		}
	}
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Image.Orientation"), "1");
	EXPECT_EQ(ExifValue(metadata.exif, "Exif.Photo.DateTimeOriginal"), kCaptureDate);
	EXPECT_EQ(FileValue(Path("upright.png"), "Exif.Image.Orientation"), "1");
}

// What reading did to a picture is said once, naming the file, unless --quiet.
TEST_F(CliTest, NotesWhatReadingDidUnlessQuiet)
{
	PngImage deep;
	deep.width = 3;
	deep.height = 2;
	deep.colorType = PNG_COLOR_TYPE_RGB;
	deep.bitDepth = 16;
	deep.rows.assign(2, Bytes(3 * 6, 0x80));
	WritePngFile(Path("deep.png"), deep);

	RunResult noted = RunQuimbel({"apply", "CopyThrough", Path("deep.png"), Path("noted.png")});
	ASSERT_EQ(noted.status, 0) << noted.err;
	EXPECT_EQ(noted.err, "quimbel: " + Path("deep.png") + ": 16-bit channels reduced to 8 bits\n");

	RunResult quiet =
	    RunQuimbel({"apply", "CopyThrough", Path("deep.png"), Path("quiet.png"), "--quiet"});
	ASSERT_EQ(quiet.status, 0) << quiet.err;
	EXPECT_EQ(quiet.err, "");
}

} // namespace
