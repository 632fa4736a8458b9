// WebP files written and read back with their metadata; files made by libwebp directly with an
// EXIF orientation, as animations, and damaged in the ways files come damaged.
#include <cerrno>
#include <cstring>
#include <functional>

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "ImageFile.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

Bytes Take(const uint8_t* data, size_t size)
{
	EXPECT_GT(size, 0u);
	Bytes bytes(data, data + size);
	WebPFree(const_cast<uint8_t*>(data));
	return bytes;
}

// A file made with libwebp's one-call API, so that the reader is not checked against the writer
// alone: one VP8L chunk, or VP8X, ALPH and VP8 chunks when lossy with alpha.
Bytes EncodeDirectly(const BBitmap& bitmap, bool lossless)
{
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	int width = bitmap.Bounds().IntegerWidth() + 1;
	int height = bitmap.Bounds().IntegerHeight() + 1;
	uint8_t* out = NULL;
	size_t size = lossless ? WebPEncodeLosslessBGRA(bits, width, height, bitmap.BytesPerRow(), &out)
	                       : WebPEncodeBGRA(bits, width, height, bitmap.BytesPerRow(), 80, &out);
	return Take(out, size);
}

// `image` in an extended file with a chunk of `fourcc` holding `payload`.
Bytes WithChunk(const Bytes& image, const char* fourcc, const Bytes& payload)
{
	WebPMux* mux = WebPMuxNew();
	WebPData imageData = {image.data(), image.size()};
	WebPData chunk = {payload.data(), payload.size()};
	EXPECT_EQ(WebPMuxSetImage(mux, &imageData, 1), WEBP_MUX_OK);
	EXPECT_EQ(WebPMuxSetChunk(mux, fourcc, &chunk, 1), WEBP_MUX_OK);
	WebPData assembled;
	EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
	WebPMuxDelete(mux);
	return Take(assembled.bytes, assembled.size);
}

void Transform(BBitmap& bitmap, const std::function<uint32(int32 x, int32 y, uint32 word)>& change)
{
	for (int32 y = 0; y <= bitmap.Bounds().IntegerHeight(); y++)
		for (int32 x = 0; x <= bitmap.Bounds().IntegerWidth(); x++)
			SetWordAt(bitmap, x, y, change(x, y, WordAt(bitmap, x, y)));
}

uint32 LittleEndian32(const Bytes& bytes, size_t offset)
{
	return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
	       (uint32)bytes[offset + 3] << 24;
}

void PutLittleEndian32(Bytes& bytes, size_t offset, uint32 value)
{
	for (int i = 0; i < 4; i++)
		bytes[offset + i] = (uint8)(value >> (8 * i));
}

// The offset of the first top-level chunk of type `fourcc`; 0 when there is none.
size_t FindChunk(const Bytes& bytes, const char* fourcc)
{
	for (size_t offset = 12; offset + 8 <= bytes.size();
	     offset += 8 + ((LittleEndian32(bytes, offset + 4) + 1) & ~1u)) {
		if (memcmp(bytes.data() + offset, fourcc, 4) == 0)
			return offset;
	}
	return 0;
}

struct RoundTrip {
	const char* name;
	color_space space;
	bool lossless;
	int quality;
	// The largest mean difference per colour channel allowed; 0 asks for every pixel.
	double tolerance;
	// Kept of each random pixel of a lossless picture: with few colours, a palette is used.
	uint32 mask;
};

const RoundTrip kRoundTrips[] = {
    {"lossless_rgb32", B_RGB32, true, 0, 0, 0xffffffff},
    {"lossless_rgba32", B_RGBA32, true, 0, 0, 0xffffffff},
    {"lossless_rgba32_palette", B_RGBA32, true, 0, 0, 0xc0c0c0c0},
    {"lossy_rgb32", B_RGB32, false, 0, 4, 0},
    {"lossy_rgba32", B_RGBA32, false, 0, 4, 0},
    {"lossy_rgb32_quality100", B_RGB32, false, 100, 2, 0},
};

class WebpRoundTrip : public ScratchTest, public testing::WithParamInterface<RoundTrip> {};

// Lossless files give back every pixel, also the colours under transparent ones; lossy files
// keep the picture, closer at a higher quality, and alpha. B_RGB32 comes back with alpha 255,
// whatever its fourth bytes held. Writing leaves the bitmap as it was.
TEST_P(WebpRoundTrip, KeepsThePicture)
{
	const RoundTrip& row = GetParam();
	// Lossless files get noise, the hardest case; lossy ones a photograph.
	BitmapPtr sample = ReadSample("astronaut.png");
	ASSERT_NE(sample, nullptr);
	BitmapPtr source = MakeBitmap(sample->Bounds(), row.space);
	memcpy(source->Bits(), sample->Bits(), sample->BitsLength());
	if (row.lossless) {
		FillRandom(source.get(), 5);
		Transform(*source, [&](int32, int32, uint32 word) { return word & row.mask; });
	} else if (row.space == B_RGBA32) {
		Transform(*source, [](int32 x, int32 y, uint32 word) {
			return (word & 0xffffff) | (uint32)(1 + (x + y) % 255) << 24;
		});
	}
	std::vector<uint32> written = Words(*source);
	WriteOptions options;
	options.lossless = row.lossless;
	options.quality = row.quality;
	std::string error;
	ASSERT_TRUE(WriteImage(*source, Path("out.webp"), options, error)) << error;
	EXPECT_EQ(Words(*source), written);

	std::unique_ptr<BBitmap> result = ReadImage(Path("out.webp"), ImageLimits(), error);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(result->ColorSpace(), row.space);
	ASSERT_EQ(result->Bounds(), source->Bounds());
	if (row.space == B_RGB32)
		Transform(*source, [](int32, int32, uint32 word) { return word | 0xff000000; });
	std::vector<uint32> before = Words(*source);
	std::vector<uint32> after = Words(*result);
	if (row.tolerance == 0) {
		EXPECT_EQ(after, before);
		return;
	}
	int64 difference = 0;
	for (size_t i = 0; i < before.size(); i++) {
		ASSERT_EQ(after[i] >> 24, before[i] >> 24) << "alpha of pixel " << i;
		for (int shift = 0; shift < 24; shift += 8)
			difference +=
			    std::abs((int)(before[i] >> shift & 0xff) - (int)(after[i] >> shift & 0xff));
	}
	EXPECT_LT((double)difference / (before.size() * 3), row.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Kinds, WebpRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip>& info) {
	                         return std::string(info.param.name);
                         });

class WebpMetadata : public ScratchTest, public testing::WithParamInterface<int> {};

// The colour profile, EXIF and XMP data, each alone and all together, are written in their
// chunks (EXIF as the bare TIFF structure) and read back byte for byte.
TEST_P(WebpMetadata, SurvivesByteForByte)
{
	int which = GetParam();
	ImageMetadata metadata;
	if (which & 1)
		metadata.iccProfile = Bytes(301, 0x5a);
	if (which & 2)
		metadata.exif = {'I', 'I', 42, 0, 8, 0,   0,   0,   1, 0, 0x0f, 0x01, 2,
		                 0,   4,   0,  0, 0, 'C', 'a', 'm', 0, 0, 0,    0,    0};
	if (which & 4)
		metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
		               "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
		               "rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:format>"
		               "image/webp</dc:format></rdf:Description></rdf:RDF></x:xmpmeta>";
	BitmapPtr source = MakeBitmap(9, 7, B_RGBA32);
	WriteOptions options;
	options.lossless = which % 2 == 0;
	std::string error;
	ASSERT_TRUE(WriteImage(*source, Path("out.webp"), options, error, &metadata)) << error;
	Bytes file = ReadBytes(Path("out.webp"));
	size_t exif = FindChunk(file, "EXIF");
	ASSERT_EQ(exif != 0, (which & 2) != 0);
	EXPECT_TRUE(exif == 0 || memcmp(file.data() + exif + 8, "II*\0", 4) == 0);

	ImageMetadata read;
	ASSERT_NE(ReadImage(Path("out.webp"), ImageLimits(), error, &read), nullptr) << error;
	EXPECT_EQ(read.iccProfile, metadata.iccProfile);
	EXPECT_EQ(read.exif, metadata.exif);
	EXPECT_EQ(read.xmp, metadata.xmp);
	EXPECT_TRUE(read.notes.empty());
}

INSTANTIATE_TEST_SUITE_P(Chunks, WebpMetadata, testing::Values(1, 2, 4, 7));

class WebpOrientation : public ScratchTest, public testing::WithParamInterface<bool> {};

// A file whose EXIF says its pixels are turned a quarter (orientation 6), with or without the
// "Exif\0\0" some writers put in front, is read upright; with auto-orientation off, as stored.
TEST_P(WebpOrientation, IsApplied)
{
	BitmapPtr stored = MakeBitmap(5, 3, B_RGBA32);
	FillRandom(stored.get(), 9);
	const Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3,
	                    0,   1,   0,  0, 0, 6, 0, 0, 0, 0, 0,    0,    0};
	Bytes exif = tiff;
	if (GetParam())
		exif.insert(exif.begin(), {'E', 'x', 'i', 'f', 0, 0});
	WriteBytes(Path("turned.webp"), WithChunk(EncodeDirectly(*stored, true), "EXIF", exif));

	std::string error;
	ImageLimits asStored;
	asStored.autoOrient = false;
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> raw = ReadImage(Path("turned.webp"), asStored, error, &metadata);
	ASSERT_NE(raw, nullptr) << error;
	EXPECT_EQ(metadata.orientation, 6);
	EXPECT_EQ(metadata.exif, tiff);
	std::unique_ptr<BBitmap> upright = ReadImage(Path("turned.webp"), ImageLimits(), error);
	ASSERT_NE(upright, nullptr) << error;
	ASSERT_EQ(upright->Bounds(), BRect(0, 0, 2, 4));
	for (int32 y = 0; y < 3; y++)
		for (int32 x = 0; x < 5; x++)
			EXPECT_EQ(WordAt(*upright, 2 - y, x), WordAt(*raw, x, y));
}

INSTANTIATE_TEST_SUITE_P(ExifHeader, WebpOrientation, testing::Bool());

const uint32 kBackground = 0xff204060;

bool InRectangle(int32 x, int32 y)
{
	return x >= 4 && x < 14 && y >= 6 && y < 12;
}

// A 20 x 16 lossless animation of `frames` frames, each a rectangle of its own colour on a
// background that is opaque or, with `border`, transparent.
Bytes EncodeAnimation(int frames, bool border)
{
	WebPAnimEncoderOptions options;
	WebPAnimEncoderOptionsInit(&options);
	WebPAnimEncoder* encoder = WebPAnimEncoderNew(20, 16, &options);
	WebPConfig config;
	WebPConfigInit(&config);
	config.lossless = 1;
	for (int i = 0; i < frames; i++) {
		WebPPicture picture;
		WebPPictureInit(&picture);
		picture.width = 20;
		picture.height = 16;
		picture.use_argb = 1;
		EXPECT_TRUE(WebPPictureAlloc(&picture));
		for (int32 y = 0; y < 16; y++)
			for (int32 x = 0; x < 20; x++)
				picture.argb[y * picture.argb_stride + x] =
				    InRectangle(x, y) ? Word(200, 100, (uint8)(i * 60), 255)
				                      : (border ? 0 : kBackground);
		EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, i * 100, &config));
		WebPPictureFree(&picture);
	}
	EXPECT_TRUE(WebPAnimEncoderAdd(encoder, NULL, frames * 100, NULL));
	WebPData data;
	WebPDataInit(&data);
	EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
	WebPAnimEncoderDelete(encoder);
	return Take(data.bytes, data.size);
}

class WebpAnimation : public ScratchTest,
                      public testing::WithParamInterface<std::tuple<int, bool>> {};

// An animation gives its first frame as shown on the canvas, which stays transparent where the
// frame does not cover it, and says how many frames there are.
TEST_P(WebpAnimation, GivesTheFirstFrame)
{
	int frames = std::get<0>(GetParam());
	bool border = std::get<1>(GetParam());
	Bytes file = EncodeAnimation(frames, border);
	// The encoder stores a frame on a transparent background as its rectangle only.
	WebPData data = {file.data(), file.size()};
	WebPDemuxer* demuxer = WebPDemux(&data);
	WebPIterator frame;
	ASSERT_TRUE(WebPDemuxGetFrame(demuxer, 1, &frame));
	EXPECT_EQ(frame.width < 20, border);
	WebPDemuxReleaseIterator(&frame);
	WebPDemuxDelete(demuxer);
	WriteBytes(Path("moving.webp"), file);

	std::string error;
	ImageMetadata metadata;
	std::unique_ptr<BBitmap> result =
	    ReadImage(Path("moving.webp"), ImageLimits(), error, &metadata);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(result->ColorSpace(), border ? B_RGBA32 : B_RGB32);
	ASSERT_EQ(result->Bounds(), BRect(0, 0, 19, 15));
	for (int32 y = 0; y < 16; y++)
		for (int32 x = 0; x < 20; x++) {
			uint32 word = WordAt(*result, x, y);
			if (InRectangle(x, y) || !border)
				EXPECT_EQ(word, InRectangle(x, y) ? Word(200, 100, 0, 255) : kBackground);
			else
				EXPECT_EQ(word >> 24, 0u) << x << ", " << y;
		}
	EXPECT_EQ(metadata.notes,
	          std::vector<std::string>{"the first of " + std::to_string(frames) + " frames"});
}

INSTANTIATE_TEST_SUITE_P(Frames, WebpAnimation,
                         testing::Values(std::make_tuple(2, false), std::make_tuple(3, true)));

// Files to damage: lossless, one VP8L chunk; lossy, VP8X, ICCP, ALPH and VP8 chunks.
Bytes GoodFile(bool lossless)
{
	BitmapPtr source = MakeBitmap(64, 48, B_RGBA32);
	FillRandom(source.get(), 13, 40, 200);
	Bytes file = EncodeDirectly(*source, lossless);
	return lossless ? file : WithChunk(file, "ICCP", Bytes(200, 0x42));
}

// The file with the payload of its image chunk changed, the chunk's and the RIFF sizes mended
// to match, so that only the decoder can tell.
Bytes ChangeImage(Bytes bytes, const std::function<void(Bytes& payload)>& change)
{
	size_t offset = FindChunk(bytes, "VP8L") + FindChunk(bytes, "VP8 ");
	size_t size = LittleEndian32(bytes, offset + 4);
	auto start = bytes.begin() + offset + 8;
	Bytes payload(start, start + size);
	change(payload);
	payload.resize((payload.size() + 1) & ~(size_t)1);
	bytes.erase(start, start + ((size + 1) & ~(size_t)1));
	bytes.insert(bytes.begin() + offset + 8, payload.begin(), payload.end());
	PutLittleEndian32(bytes, offset + 4, (uint32)payload.size());
	PutLittleEndian32(bytes, 4, (uint32)bytes.size() - 8);
	return bytes;
}

void Scramble(Bytes& bytes, size_t from)
{
	for (size_t i = from; i < bytes.size(); i++)
		bytes[i] = (uint8)((i * 2654435761u) >> 13);
}

struct Damage {
	const char* name;
	std::function<Bytes(Bytes)> damage;
	// What the message says besides "WebP".
	const char* message;
};

const Damage kDamages[] = {
    {"riff_header_only", [](Bytes b) { return Bytes(b.begin(), b.begin() + 12); }, "truncated"},
    {"cut_in_chunk_header", [](Bytes b) { return Bytes(b.begin(), b.begin() + 17); }, "truncated"},
    {"cut_in_half", [](Bytes b) { return Bytes(b.begin(), b.begin() + b.size() / 2); },
     "truncated"},
    {"one_byte_short", [](Bytes b) { return Bytes(b.begin(), b.end() - 1); }, "truncated"},
    {"riff_size_zero",
     [](Bytes b) {
	     PutLittleEndian32(b, 4, 0);
	     return b;
     },
     "damaged"},
    {"garbage_after_riff_header",
     [](Bytes b) {
	     Scramble(b, 12);
	     return b;
     },
     "damaged"},
    {"image_empty", [](Bytes b) { return ChangeImage(b, [](Bytes& p) { p.clear(); }); }, "damaged"},
    {"image_cut", [](Bytes b) { return ChangeImage(b, [](Bytes& p) { p.resize(p.size() / 2); }); },
     "WebP data"},
    // The bitstream's header stays, so that the garbage is decoded.
    {"image_garbage", [](Bytes b) { return ChangeImage(b, [](Bytes& p) { Scramble(p, 10); }); },
     "damaged"},
};

class WebpDamage : public ScratchTest,
                   public testing::WithParamInterface<std::tuple<bool, Damage>> {};

// Each damaged file gives one message naming WebP and no bitmap.
TEST_P(WebpDamage, IsRefused)
{
	const Damage& damage = std::get<1>(GetParam());
	WriteBytes(Path("bad.webp"), damage.damage(GoodFile(std::get<0>(GetParam()))));
	std::string error;
	ImageMetadata metadata;
	EXPECT_EQ(ReadImage(Path("bad.webp"), ImageLimits(), error, &metadata), nullptr);
	EXPECT_NE(error.find("WebP"), std::string::npos) << error;
	EXPECT_NE(error.find(damage.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Files, WebpDamage,
                         testing::Combine(testing::Bool(), testing::ValuesIn(kDamages)),
                         [](const testing::TestParamInfo<std::tuple<bool, Damage>>& info) {
	                         return std::string(std::get<0>(info.param) ? "lossless_" : "lossy_") +
	                                std::get<1>(info.param).name;
                         });

struct Claim {
	const char* name;
	int64 maxPixels;
	bool admitted;
	bool admitCalled;
	const char* message;
};

const Claim kClaims[] = {
    {"over_the_limits", 1000 * 1000, true, false, "more than the limit"},
    {"refused_by_admit", 64 * 1000 * 1000, false, true, "waits in vain"},
    {"admitted", 64 * 1000 * 1000, true, true, "WebP data"},
};

class WebpClaimedSize : public ScratchTest, public testing::WithParamInterface<Claim> {};

// A header claiming 3000 x 3000 pixels over the data of a small image: the size is checked
// against the limits and offered to `admit` before the pixels are allocated, and when admitted
// the file still fails.
TEST_P(WebpClaimedSize, IsCheckedFirst)
{
	const Claim& claim = GetParam();
	Bytes file = GoodFile(true);
	// The VP8L header: a signature byte at 20, then the width and height less one in 14 bits
	// each, least significant bits first.
	PutLittleEndian32(file, 21, (LittleEndian32(file, 21) & 0xf0000000) | 2999 | 2999 << 14);
	WriteBytes(Path("large.webp"), file);
	ImageLimits limits;
	limits.maxPixels = claim.maxPixels;
	bool called = false;
	limits.admit = [&](int64 width, int64 height, std::string& error) {
		called = width == 3000 && height == 3000;
		error = "waits in vain";
		return claim.admitted;
	};
	std::string error;
	EXPECT_EQ(ReadImage(Path("large.webp"), limits, error), nullptr);
	EXPECT_EQ(called, claim.admitCalled);
	EXPECT_NE(error.find(claim.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Limits, WebpClaimedSize, testing::ValuesIn(kClaims),
                         [](const testing::TestParamInfo<Claim>& info) {
	                         return std::string(info.param.name);
                         });

class Webp : public ScratchTest {};

// A lossless image whose header says it has no alpha is read as B_RGB32 with alpha 255, though
// its pixels carry other values, which libwebp passes on.
TEST_F(Webp, LosslessWithoutAlphaIsOpaque)
{
	BitmapPtr source = MakeBitmap(6, 4, B_RGBA32);
	FillRandom(source.get(), 21);
	Bytes file = EncodeDirectly(*source, true);
	// The alpha bit follows the two 14-bit sizes.
	ASSERT_NE(file[24] & 0x10, 0);
	file[24] &= ~0x10;
	WriteBytes(Path("opaque.webp"), file);
	std::string error;
	std::unique_ptr<BBitmap> result = ReadImage(Path("opaque.webp"), ImageLimits(), error);
	ASSERT_NE(result, nullptr) << error;
	EXPECT_EQ(result->ColorSpace(), B_RGB32);
	Transform(*source, [](int32, int32, uint32 word) { return word | 0xff000000; });
	EXPECT_EQ(Words(*result), Words(*source));
}

class WebpWriteFailure : public ScratchTest, public testing::WithParamInterface<bool> {};

// A device that takes nothing gives the system's message, whether the encoder writes the file
// itself or the metadata are added to it first.
TEST_P(WebpWriteFailure, IsReported)
{
	FILE* full = fopen("/dev/full", "w");
	ASSERT_NE(full, nullptr) << strerror(errno);
	setvbuf(full, NULL, _IONBF, 0);
	ImageMetadata metadata;
	metadata.iccProfile = Bytes(100, 1);
	WriteOptions options;
	options.kind = ImageKind::kWebp;
	std::string error;
	EXPECT_FALSE(WriteImageStream(*MakeBitmap(8, 8, B_RGB32), full, "full", options, error,
	                              GetParam() ? &metadata : NULL));
	EXPECT_EQ(error, "full: cannot write: " + std::string(strerror(ENOSPC)));
	fclose(full);
}

INSTANTIATE_TEST_SUITE_P(Metadata, WebpWriteFailure, testing::Bool());

} // namespace
