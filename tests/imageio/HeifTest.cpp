// HEIC and AVIF: files made with libheif directly are read, AVIF files are written and read back,
// with their transformations, metadata and damage.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <libheif/heif.h>

#include "Av1Decoder.h"
#include "ImageFile.h"
#include "Orientation.h"
#include "Scratch.h"
#include "TestSupport.h"

// x265 3.5 loses a block of every encoder it opens (in x265_encoder_open), which LeakSanitizer
// would report of the tests that make HEIC files with it; nothing else here uses x265.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libx265.so\n";
}

namespace {

#define ASSERT_HEIF_OK(call)                                                                       \
	do {                                                                                           \
		heif_error result_ = (call);                                                               \
		ASSERT_EQ(result_.code, heif_error_Ok) << #call << ": " << result_.message;                \
	} while (0)

// Smooth ramps, different for each `seed`, that lossy coding keeps close.
uint8 Ramp(int32 x, int32 y, int channel, int seed)
{
	const int values[4] = {x * 4 + seed * 70, y * 5 + seed * 30, (x + y) * 2 + 16, 255 - x * 2};
	return (uint8)values[channel];
}

BitmapPtr RampBitmap(int32 width, int32 height, bool alpha, int seed = 0)
{
	BitmapPtr bitmap = MakeBitmap(width, height, alpha ? B_RGBA32 : B_RGB32);
	for (int32 y = 0; y < height; y++)
		for (int32 x = 0; x < width; x++)
			SetWordAt(*bitmap, x, y,
			          Word(Ramp(x, y, 0, seed), Ramp(x, y, 1, seed), Ramp(x, y, 2, seed),
			               alpha ? Ramp(x, y, 3, seed) : 255));
	return bitmap;
}

// A file that libheif itself makes of the ramps.
struct FileRecipe {
	heif_compression_format format = heif_compression_AV1;
	int width = 64;
	int height = 48;
	bool alpha = false;
	// Above 8, the ramps' samples are shifted up.
	int depth = 8;
	bool lossless = true;
	heif_orientation orientation = heif_orientation_normal;
	// Called with the primary image before it is encoded.
	std::function<void(heif_image*)> prepare;
	// Called after the primary image is in the file, to add metadata or more images.
	std::function<void(heif_context*, heif_encoder*, heif_image_handle*)> extend;
};

heif_image* MakeImage(const FileRecipe& recipe, int seed)
{
	bool wide = recipe.depth > 8;
	heif_chroma chroma =
	    recipe.alpha ? (wide ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RGBA)
	                 : (wide ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB);
	heif_image* image = NULL;
	heif_image_create(recipe.width, recipe.height, heif_colorspace_RGB, chroma, &image);
	heif_image_add_plane(image, heif_channel_interleaved, recipe.width, recipe.height,
	                     recipe.depth);
	int stride = 0;
	uint8* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
	int channels = recipe.alpha ? 4 : 3;
	int bytes = wide ? 2 : 1;
	for (int y = 0; y < recipe.height; y++) {
		for (int x = 0; x < recipe.width * channels; x++) {
			int value = Ramp(x / channels, y, x % channels, seed) << (recipe.depth - 8);
			plane[y * stride + x * bytes] = (uint8)value;
			if (wide)
				plane[y * stride + x * bytes + 1] = (uint8)(value >> 8);
		}
	}
	if (recipe.lossless) {
		heif_color_profile_nclx* profile = heif_nclx_color_profile_alloc();
		profile->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
		profile->full_range_flag = 1;
		heif_image_set_nclx_color_profile(image, profile);
		heif_nclx_color_profile_free(profile);
	}
	return image;
}

heif_error AppendBytes(heif_context*, const void* data, size_t size, void* bytes)
{
	const uint8* start = static_cast<const uint8*>(data);
	static_cast<Bytes*>(bytes)->insert(static_cast<Bytes*>(bytes)->end(), start, start + size);
	return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// Encodes `recipe` into `file`, or skips the test when libheif has no encoder for its format.
void MakeFile(const FileRecipe& recipe, Bytes& file)
{
	if (!heif_have_encoder_for_format(recipe.format))
		GTEST_SKIP() << "libheif has no encoder for compression format " << recipe.format;
	heif_context* context = heif_context_alloc();
	heif_encoder* encoder = NULL;
	heif_image* image = MakeImage(recipe, 0);
	if (recipe.prepare)
		recipe.prepare(image);
	heif_encoding_options* options = heif_encoding_options_alloc();
	options->image_orientation = recipe.orientation;
	heif_image_handle* handle = NULL;
	[&] {
		ASSERT_HEIF_OK(heif_context_get_encoder_for_format(context, recipe.format, &encoder));
		if (recipe.lossless) {
			ASSERT_HEIF_OK(heif_encoder_set_lossless(encoder, 1));
			ASSERT_HEIF_OK(heif_encoder_set_parameter(encoder, "chroma", "444"));
		} else {
			ASSERT_HEIF_OK(heif_encoder_set_lossy_quality(encoder, 90));
			// libaom 3.6 takes more than 8 bits only at full chroma resolution.
			if (recipe.depth > 8 && recipe.format == heif_compression_AV1)
				ASSERT_HEIF_OK(heif_encoder_set_parameter(encoder, "chroma", "444"));
		}
		ASSERT_HEIF_OK(heif_context_encode_image(context, image, encoder, options, &handle));
		if (recipe.extend)
			recipe.extend(context, encoder, handle);
		heif_writer writer = {1, AppendBytes};
		ASSERT_HEIF_OK(heif_context_write(context, &writer, &file));
	}();
	heif_image_handle_release(handle);
	heif_encoding_options_free(options);
	heif_image_release(image);
	heif_encoder_release(encoder);
	heif_context_free(context);
}

// The mean difference between the channels of two bitmaps of one size.
double MeanDifference(const BBitmap& a, const BBitmap& b)
{
	std::vector<uint32> first = Words(a);
	std::vector<uint32> second = Words(b);
	if (first.size() != second.size())
		return 256;
	double total = 0;
	for (size_t i = 0; i < first.size(); i++)
		for (int shift = 0; shift < 32; shift += 8)
			total += abs((int)(first[i] >> shift & 0xff) - (int)(second[i] >> shift & 0xff));
	return total / (first.size() * 4);
}

// gtest names each parameterised test by its row's name.
template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
	return info.param.name;
}

bool HaveAv1Encoder()
{
	return heif_have_encoder_for_format(heif_compression_AV1) != 0;
}

class HeifTest : public ScratchTest {
protected:
	BitmapPtr Read(const Bytes& file, ImageMetadata* metadata = NULL, bool autoOrient = true)
	{
		WriteBytes(Path("in.heif"), file);
		ImageLimits limits;
		limits.autoOrient = autoOrient;
		BitmapPtr bitmap = ReadImage(Path("in.heif"), limits, fError, metadata);
		EXPECT_NE(bitmap, nullptr) << fError;
		return bitmap;
	}

	std::string fError;
};

struct AvifRoundTrip {
	const char* name;
	color_space space;
	bool lossless;
	int width;
	int height;
	// The orientation the metadata gives the pixels.
	int orientation;
};

void PrintTo(const AvifRoundTrip& row, std::ostream* out)
{
	*out << row.name;
}

const AvifRoundTrip kAvifRoundTrips[] = {
    {"lossy_rgb", B_RGB32, false, 64, 48, 1},
    {"lossy_rgba", B_RGBA32, false, 64, 48, 1},
    {"lossy_odd_size", B_RGBA32, false, 33, 17, 1},
    {"lossless_rgb", B_RGB32, true, 64, 48, 1},
    {"lossless_rgba", B_RGBA32, true, 64, 48, 1},
    {"lossless_turned_2", B_RGBA32, true, 33, 17, 2},
    {"lossless_turned_3", B_RGBA32, true, 33, 17, 3},
    {"lossless_turned_4", B_RGBA32, true, 33, 17, 4},
    {"lossless_turned_5", B_RGBA32, true, 33, 17, 5},
    {"lossless_turned_6", B_RGB32, true, 33, 17, 6},
    {"lossless_turned_7", B_RGBA32, true, 33, 17, 7},
    {"lossless_turned_8", B_RGBA32, true, 33, 17, 8},
};

// Ramps for the lossy rows, noise for the lossless ones.
BitmapPtr Source(const AvifRoundTrip& row)
{
	BitmapPtr source = RampBitmap(row.width, row.height, row.space == B_RGBA32);
	if (row.lossless)
		FillRandom(source.get(), 5);
	if (row.space == B_RGB32) {
		for (int32 y = 0; y < row.height; y++)
			for (int32 x = 0; x < row.width; x++)
				SetWordAt(*source, x, y, WordAt(*source, x, y) | 0xff000000);
	}
	return source;
}

class AvifRoundTripTest : public HeifTest, public ::testing::WithParamInterface<AvifRoundTrip> {};

// Lossless AVIF gives back every pixel of noise, with a colour profile too; lossy AVIF keeps
// ramps close. The profile, EXIF and XMP data come back byte for byte. A picture stored turned
// is written upright, since HEIF readers turn pictures by the file's transformations, not by
// EXIF, whose orientation then says upright.
TEST_P(AvifRoundTripTest, KeepsPictureAndMetadata)
{
	if (!HaveAv1Encoder())
		GTEST_SKIP() << "libheif has no AV1 encoder";
	const AvifRoundTrip& row = GetParam();
	ImageMetadata metadata;
	for (int i = 0; i < 300; i++)
		metadata.iccProfile.push_back((uint8)(i * 7));
	// A make, "Test", and nothing the bitmap could make false.
	metadata.exif = {'I', 'I', '*', 0, 8,   0,   0,   0,   1, 0, 0x0f, 1, 2, 0,
	                 5,   0,   0,   0, 'T', 'e', 's', 't', 0, 0, 0,    0, 0, 0};
	metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/"
	               "1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
	               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"image/avif\"/>"
	               "</rdf:RDF></x:xmpmeta>";
	metadata.orientation = row.orientation;
	WriteOptions options;
	options.lossless = row.lossless;
	ASSERT_TRUE(WriteImage(*Source(row), Path("out.avif"), options, fError, &metadata)) << fError;

	ImageMetadata read;
	BitmapPtr result = ReadImage(Path("out.avif"), ImageLimits(), fError, &read);
	ASSERT_NE(result, nullptr) << fError;
	BitmapPtr expected = Upright(Source(row), row.orientation);
	EXPECT_EQ(result->ColorSpace(), row.space);
	EXPECT_EQ(result->Bounds(), expected->Bounds());
	if (row.lossless) {
		EXPECT_EQ(Words(*result), Words(*expected));
	} else {
		EXPECT_LT(MeanDifference(*result, *expected), 3.0);
	}
	EXPECT_EQ(read.iccProfile, metadata.iccProfile);
	EXPECT_EQ(read.xmp, metadata.xmp);
	if (row.orientation == 1) {
		EXPECT_EQ(read.exif, metadata.exif);
	} else {
		EXPECT_EQ(ExifOrientation(read.exif.data(), read.exif.size()), 1);
	}
}

INSTANTIATE_TEST_SUITE_P(Settings, AvifRoundTripTest, ::testing::ValuesIn(kAvifRoundTrips),
                         RowName<AvifRoundTrip>);

struct ForeignFile {
	const char* name;
	heif_compression_format format;
	int depth;
	bool alpha;
};

void PrintTo(const ForeignFile& row, std::ostream* out)
{
	*out << row.name;
}

const ForeignFile kForeignFiles[] = {
    {"heic", heif_compression_HEVC, 8, false},
    {"heic_alpha", heif_compression_HEVC, 8, true},
    {"heic_10_bit", heif_compression_HEVC, 10, false},
    {"avif_12_bit", heif_compression_AV1, 12, false},
};

class HeifForeignFileTest : public HeifTest, public ::testing::WithParamInterface<ForeignFile> {};

// Lossy files of either codec, alpha and depth decode close to their pictures; deeper channels
// are reduced to 8 bits, which the notes say.
TEST_P(HeifForeignFileTest, DecodesClose)
{
	const ForeignFile& row = GetParam();
	FileRecipe recipe;
	recipe.format = row.format;
	recipe.depth = row.depth;
	recipe.alpha = row.alpha;
	recipe.lossless = false;
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	ImageMetadata metadata;
	BitmapPtr result = Read(file, &metadata);
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(result->ColorSpace(), row.alpha ? B_RGBA32 : B_RGB32);
	EXPECT_LT(MeanDifference(*result, *RampBitmap(64, 48, row.alpha)), 3.0);
	std::vector<std::string> notes;
	if (row.depth > 8)
		notes.push_back(std::to_string(row.depth) + "-bit channels reduced to 8 bits");
	EXPECT_EQ(metadata.notes, notes);
}

INSTANTIATE_TEST_SUITE_P(Files, HeifForeignFileTest, ::testing::ValuesIn(kForeignFiles),
                         RowName<ForeignFile>);

// The RGB or RGBA bytes, row after row, of the primary image of `file` as the AV1 decoder
// `decoder` (a libheif decoder id) gives it; empty when it fails.
Bytes DecodedWith(const Bytes& file, const char* decoder)
{
	heif_context* context = heif_context_alloc();
	heif_image_handle* handle = NULL;
	heif_image* image = NULL;
	heif_decoding_options* options = heif_decoding_options_alloc();
	options->decoder_id = decoder;
	options->convert_hdr_to_8bit = 1;
	Bytes pixels;
	if (heif_context_read_from_memory_without_copy(context, file.data(), file.size(), NULL).code ==
	        heif_error_Ok &&
	    heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
		bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
		if (heif_decode_image(handle, &image, heif_colorspace_RGB,
		                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
		                      options)
		        .code == heif_error_Ok) {
			int stride = 0;
			const uint8* rows =
			    heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
			int width = heif_image_get_width(image, heif_channel_interleaved) * (alpha ? 4 : 3);
			int height = heif_image_get_height(image, heif_channel_interleaved);
			for (int y = 0; y < height; y++)
				pixels.insert(pixels.end(), rows + y * stride, rows + y * stride + width);
		}
	}
	heif_image_release(image);
	heif_image_handle_release(handle);
	heif_decoding_options_free(options);
	heif_context_free(context);
	return pixels;
}

struct Av1File {
	const char* name;
	int depth;
	bool alpha;
	bool lossless;
};

void PrintTo(const Av1File& row, std::ostream* out)
{
	*out << row.name;
}

const Av1File kAv1Files[] = {
    {"lossy", 8, false, false},         {"lossy_alpha", 8, true, false},
    {"lossless", 8, false, true},       {"lossless_alpha", 8, true, true},
    {"lossy_12_bit", 12, false, false},
};

class QuietAv1DecoderTest : public HeifTest, public ::testing::WithParamInterface<Av1File> {};

// The AV1 decoder that keeps dav1d quiet gives the very pixels libheif's own dav1d decoder
// gives, alpha and deeper channels included, lossy and lossless.
TEST_P(QuietAv1DecoderTest, DecodesAsLibheifsOwn)
{
	const Av1File& row = GetParam();
	FileRecipe recipe;
	recipe.depth = row.depth;
	recipe.alpha = row.alpha;
	recipe.lossless = row.lossless;
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	UseQuietAv1Decoder();
	Bytes reference = DecodedWith(file, "dav1d");
	ASSERT_EQ(reference.size(), (size_t)64 * 48 * (row.alpha ? 4 : 3));
	EXPECT_TRUE(DecodedWith(file, "quimbel-dav1d") == reference);
	EXPECT_TRUE(DecodedWith(file, NULL) == reference);
}

INSTANTIATE_TEST_SUITE_P(Files, QuietAv1DecoderTest, ::testing::ValuesIn(kAv1Files),
                         RowName<Av1File>);

class HeifOrientationTest : public HeifTest, public ::testing::WithParamInterface<int> {};

// The file's rotation and mirroring turn the picture as the EXIF orientation of the same number
// does; without turning, the pixels come as stored with that orientation.
TEST_P(HeifOrientationTest, FileTransformsAreApplied)
{
	FileRecipe recipe;
	recipe.orientation = (heif_orientation)GetParam();
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	ImageMetadata turned;
	BitmapPtr upright = Read(file, &turned);
	ASSERT_NE(upright, nullptr);
	EXPECT_EQ(Words(*upright), Words(*Upright(RampBitmap(64, 48, false), GetParam())));
	EXPECT_EQ(turned.orientation, 1);

	ImageMetadata stored;
	BitmapPtr asStored = Read(file, &stored, false);
	ASSERT_NE(asStored, nullptr);
	EXPECT_EQ(Words(*asStored), Words(*RampBitmap(64, 48, false)));
	EXPECT_EQ(stored.orientation, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Orientations, HeifOrientationTest, ::testing::Range(1, 9),
                         [](const ::testing::TestParamInfo<int>& info) {
	                         return "orientation_" + std::to_string(info.param);
                         });

// A TIFF structure with one entry, the orientation: right-top, which is never applied to HEIF.
const Bytes kExif = {'I', 'I', '*', 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3,
                     0,   1,   0,   0, 0, 6, 0, 0, 0, 0, 0,    0, 0};

struct ExifItem {
	const char* name;
	// What the item holds after its offset to the TIFF header.
	Bytes prefix;
	uint32 offset;
	bool kept;
};

void PrintTo(const ExifItem& row, std::ostream* out)
{
	*out << row.name;
}

const ExifItem kExifItems[] = {
    {"tiff_at_once", {}, 0, true},
    {"offset_past_exif_header", {'E', 'x', 'i', 'f', 0, 0}, 6, true},
    {"exif_header_not_counted", {'E', 'x', 'i', 'f', 0, 0}, 0, true},
    {"offset_past_padding", {'p', 'a', 'd', 0}, 4, true},
    {"offset_past_the_end", {}, 1000, false},
};

class HeifExifItemTest : public HeifTest, public ::testing::WithParamInterface<ExifItem> {};

// The TIFF structure is found however writers lay out the item, and its orientation is left
// alone: the pixels come as the file's transformations (none here) say.
TEST_P(HeifExifItemTest, GivesTheTiffStructure)
{
	const ExifItem& row = GetParam();
	FileRecipe recipe;
	recipe.extend = [&row](heif_context* context, heif_encoder*, heif_image_handle* handle) {
		Bytes item = {(uint8)(row.offset >> 24), (uint8)(row.offset >> 16),
		              (uint8)(row.offset >> 8), (uint8)row.offset};
		item.insert(item.end(), row.prefix.begin(), row.prefix.end());
		item.insert(item.end(), kExif.begin(), kExif.end());
		ASSERT_HEIF_OK(heif_context_add_generic_metadata(context, handle, item.data(),
		                                                 (int)item.size(), "Exif", NULL));
	};
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	ImageMetadata metadata;
	BitmapPtr result = Read(file, &metadata);
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(metadata.exif, row.kept ? kExif : Bytes());
	EXPECT_EQ(Words(*result), Words(*RampBitmap(64, 48, false)));
	EXPECT_EQ(metadata.orientation, 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, HeifExifItemTest, ::testing::ValuesIn(kExifItems),
                         RowName<ExifItem>);

// Of several images the primary one is read, not the first, and the notes say there are more.
TEST_F(HeifTest, PrimaryOfSeveralImages)
{
	FileRecipe recipe;
	recipe.extend = [&recipe](heif_context* context, heif_encoder* encoder, heif_image_handle*) {
		for (int seed = 1; seed <= 2; seed++) {
			heif_image* image = MakeImage(recipe, seed);
			heif_image_handle* handle = NULL;
			heif_error result = heif_context_encode_image(context, image, encoder, NULL, &handle);
			if (result.code == heif_error_Ok && seed == 1)
				result = heif_context_set_primary_image(context, handle);
			heif_image_handle_release(handle);
			heif_image_release(image);
			ASSERT_HEIF_OK(result);
		}
	};
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	ImageMetadata metadata;
	BitmapPtr result = Read(file, &metadata);
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(Words(*result), Words(*RampBitmap(64, 48, false, 1)));
	EXPECT_EQ(metadata.notes, std::vector<std::string>{"the first of 3 images"});
}

// Colours stored multiplied by alpha are divided back.
TEST_F(HeifTest, PremultipliedAlphaIsUndone)
{
	FileRecipe recipe;
	recipe.alpha = true;
	recipe.prepare = [](heif_image* image) {
		int stride = 0;
		uint8* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
		memcpy(plane + 5 * stride + 3 * 4, "\x64\x32\x19\x80", 4);
		heif_image_set_premultiplied_alpha(image, 1);
	};
	Bytes file;
	MakeFile(recipe, file);
	if (IsSkipped() || HasFatalFailure())
		return;
	BitmapPtr bitmap = Read(file);
	ASSERT_NE(bitmap, nullptr);
	// 100, 50 and 25 at alpha 128 stand for 199, 100 and 50.
	EXPECT_EQ(WordAt(*bitmap, 3, 5), Word(199, 100, 50, 128));
}

// A full disk is reported with the system's reason.
TEST_F(HeifTest, WriteErrorIsReported)
{
	if (!HaveAv1Encoder())
		GTEST_SKIP() << "libheif has no AV1 encoder";
	FILE* full = fopen("/dev/full", "w");
	if (full == NULL)
		GTEST_SKIP() << "no /dev/full";
	setvbuf(full, NULL, _IONBF, 0);
	WriteOptions options;
	options.kind = ImageKind::kAvif;
	bool written = WriteImageStream(*RampBitmap(64, 48, false), full, "full", options, fError);
	fclose(full);
	EXPECT_FALSE(written);
	EXPECT_EQ(fError, "full: cannot write: No space left on device");
}

void PutBigEndian32(Bytes& bytes, size_t offset, uint32 value)
{
	for (int i = 0; i < 4; i++)
		bytes[offset + i] = (uint8)(value >> (24 - 8 * i));
}

// The file with every image size property ('ispe': header, version and flags, width, height)
// saying `width` x `height`.
Bytes Declaring(Bytes file, uint32 width, uint32 height)
{
	for (size_t i = 4; i + 16 <= file.size(); i++) {
		if (memcmp(file.data() + i, "ispe", 4) == 0) {
			PutBigEndian32(file, i + 8, width);
			PutBigEndian32(file, i + 12, height);
		}
	}
	return file;
}

const uint8 kMdat[] = {'m', 'd', 'a', 't'};

struct DamagedFile {
	const char* name;
	std::function<Bytes(Bytes)> damage;
	const char* message;
	// Whether the size passes the limits, which then ask for admission.
	bool admitted;
};

void PrintTo(const DamagedFile& row, std::ostream* out)
{
	*out << row.name;
}

Bytes Truncated(Bytes file, size_t keep)
{
	file.resize(std::min(keep, file.size()));
	return file;
}

const DamagedFile kDamagedFiles[] = {
    {"ftyp_only", [](Bytes file) { return Truncated(file, 24); }, "damaged HEIF data", false},
    {"truncated_in_meta", [](Bytes file) { return Truncated(file, 100); }, "damaged HEIF data",
     false},
    {"truncated_in_data", [](Bytes file) { return Truncated(file, file.size() - 10); },
     "damaged HEIF data", false},
    {"garbage_after_ftyp",
     [](Bytes file) {
	     for (size_t i = 32; i < file.size(); i++)
		     file[i] = (uint8)(i * 131 + 7);
	     return file;
     },
     "damaged HEIF data", false},
    {"damaged_coded_image",
     [](Bytes file) {
	     size_t data = std::search(file.begin(), file.end(), kMdat, kMdat + 4) - file.begin();
	     for (size_t i = data + 4; i < data + 12 && i < file.size(); i++)
		     file[i] = 0xff;
	     return file;
     },
     "damaged HEIF data", true},
    {"size_not_the_coded_one", [](Bytes file) { return Declaring(file, 640, 480); },
     "damaged HEIF data (the image decodes to 64 x 48 pixels, not the 640 x 480 its header "
     "gives)",
     true},
    {"past_the_pixel_limit", [](Bytes file) { return Declaring(file, 16000, 16000); },
     "16000 x 16000 pixels, more than the limit of 64000000 pixels", false},
    {"past_libheif_limit", [](Bytes file) { return Declaring(file, 60000, 60000); },
     "the HEIF image is beyond the size limits (Image size 60000x60000 exceeds the maximum image "
     "size 16384x16384)",
     false},
};

class HeifDamagedFileTest : public HeifTest, public ::testing::WithParamInterface<DamagedFile> {};

// A damaged file gives no bitmap and one line that names the file and the fault; sizes past the
// limits are refused before anything is decoded, or admitted.
TEST_P(HeifDamagedFileTest, IsRefused)
{
	const DamagedFile& row = GetParam();
	Bytes file;
	MakeFile(FileRecipe(), file);
	if (IsSkipped() || HasFatalFailure())
		return;
	WriteBytes(Path("damaged.avif"), row.damage(file));
	ImageLimits limits;
	int admissions = 0;
	limits.admit = [&admissions](int64, int64, std::string&) { return ++admissions > 0; };
	BitmapPtr bitmap = ReadImage(Path("damaged.avif"), limits, fError);
	EXPECT_EQ(bitmap, nullptr);
	EXPECT_EQ(fError.rfind(Path("damaged.avif") + ": ", 0), 0u) << fError;
	EXPECT_NE(fError.find(row.message), std::string::npos) << fError;
	EXPECT_EQ(fError.find('\n'), std::string::npos) << fError;
	EXPECT_EQ(admissions, row.admitted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Files, HeifDamagedFileTest, ::testing::ValuesIn(kDamagedFiles),
                         RowName<DamagedFile>);

} // namespace
