// Damaged, hostile and unsuitable input files: each gives a message naming the file and what is
// wrong, exit status 1, and leaves nothing behind.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include <zlib.h>

#include "CliSupport.h"
#include "ImageFile.h"

namespace {

Bytes Truncated(const std::string& sample)
{
	Bytes bytes = ReadBytes(SamplePath(sample));
	bytes.resize(bytes.size() / 2);
	return bytes;
}

Bytes WrongMagic()
{
	Bytes bytes = ReadBytes(SamplePath("astronaut.png"));
	bytes[1] = 'Q';
	return bytes;
}

Bytes BadHeaderCrc()
{
	Bytes bytes = ReadBytes(SamplePath("astronaut.png"));
	// The signature (8), then IHDR's length, type and 13 data bytes: its CRC starts at 29.
	bytes[29] ^= 0xFF;
	return bytes;
}

Bytes HugePng()
{
	std::vector<PngChunk> chunks = SplitPng(ReadBytes(SamplePath("astronaut.png")));
	Bytes& header = chunks[0].data;
	const uint8 kSide[4] = {0x00, 0x01, 0x86, 0xA0};
	memcpy(&header[0], kSide, 4);
	memcpy(&header[4], kSide, 4);
	return JoinPng(chunks);
}

Bytes HugeJpeg()
{
	Bytes bytes = ReadBytes(SamplePath("rocket.jpg"));
	for (size_t i = 0; i + 9 < bytes.size(); i++) {
		if (bytes[i] != 0xFF || bytes[i + 1] != 0xC0)
			continue;
		// SOF0: marker, length (2), precision (1), height (2), width (2).
		const uint8 kSide[2] = {0xFF, 0xDC};
		memcpy(&bytes[i + 5], kSide, 2);
		memcpy(&bytes[i + 7], kSide, 2);
		return bytes;
	}
	ADD_FAILURE() << "rocket.jpg has no baseline frame header";
	return bytes;
}

// The indexed sample with its palette cut to one entry, while its pixels use several.
Bytes PaletteIndexPastEnd()
{
	std::vector<PngChunk> chunks = SplitPng(ReadBytes(SamplePath("foo3x5x4indexed.png")));
	for (PngChunk& chunk : chunks) {
		if (chunk.type == "PLTE")
			chunk.data.resize(3);
		if (chunk.type == "tRNS")
			chunk.data.resize(1);
	}
	return JoinPng(chunks);
}

Bytes Text()
{
	const char* kText = "P3\n1 1\n255\n0 0 0\n";
	return Bytes(kText, kText + strlen(kText));
}

// An AVIF file whose AV1 data start with bytes that make no sense, which the AV1 decoder
// would complain of on standard error beside the program's message.
Bytes DamagedAv1()
{
	BitmapPtr sample = ReadSample("astronaut.png");
	WriteOptions options;
	options.kind = ImageKind::kAvif;
	std::string error;
	FILE* file = tmpfile();
	Bytes bytes;
	if (file == NULL || !WriteImageStream(*sample, file, "astronaut.avif", options, error)) {
		ADD_FAILURE() << "cannot make an AVIF file: " << error;
	} else {
		bytes.resize(ftell(file));
		rewind(file);
		EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), file), bytes.size());
	}
	if (file != NULL)
		fclose(file);
	const char kData[] = "mdat";
	auto data = std::search(bytes.begin(), bytes.end(), kData, kData + 4);
	if (bytes.end() - data < 10) {
		ADD_FAILURE() << "the AVIF file has no image data";
		return bytes;
	}
	for (auto byte = data + 4; byte < data + 10; byte++)
		*byte ^= 0x5a;
	return bytes;
}

struct BadFile {
	const char* label;
	const char* fileName;
	std::function<Bytes()> make;
	const char* message;
};

void PrintTo(const BadFile& file, std::ostream* out)
{
	*out << file.label;
}

const BadFile kBadFiles[] = {
    {"Empty", "empty.png", [] { return Bytes(); }, "empty file"},
    {"TruncatedPng", "cut.png", [] { return Truncated("astronaut.png"); }, "truncated PNG data"},
    {"TruncatedJpeg", "cut.jpg", [] { return Truncated("rocket.jpg"); }, "truncated JPEG data"},
    {"WrongMagic", "magic.png", WrongMagic, "not an image file of a kind this program reads"},
    {"BadCrc", "crc.png", BadHeaderCrc, "CRC error"},
    {"HugePng", "huge.png", HugePng, "100000 x 100000 pixels, more than the limit"},
    {"HugeJpeg", "huge.jpg", HugeJpeg, "65500 x 65500 pixels, more than the limit"},
    {"PaletteIndexPastEnd", "palette.png", PaletteIndexPastEnd, "palette index"},
    {"OtherKind", "picture.ppm", Text, "not an image file of a kind this program reads"},
    {"DamagedAv1", "damaged.avif", DamagedAv1, "damaged HEIF data"},
};

class BadInput : public CliTest, public ::testing::WithParamInterface<BadFile> {};

// The bad file is named in one message on standard error, nothing goes to standard output, and
// the folder holds nothing but the bad file afterwards (no output, no temporary file).
TEST_P(BadInput, IsRefusedAndLeavesNothing)
{
	const BadFile& bad = GetParam();
	std::string input = Path(bad.fileName);
	WriteBytes(input, bad.make());

	RunResult run = RunQuimbel({"apply", "My", input, Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, "");
	EXPECT_EQ(run.err.rfind("quimbel: " + input + ": ", 0), 0u) << run.err;
	EXPECT_NE(run.err.find(bad.message), std::string::npos) << run.err;
	EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
	EXPECT_EQ(Entries(), std::vector<std::string>({bad.fileName}));
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.label); });

struct LimitCase {
	const char* label;
	std::vector<std::string> options;
	const char* message;
};

const LimitCase kLimits[] = {
    {"Pixels", {"--max-pixels", "100000"}, "more than the limit"},
    {"Side", {"--max-side", "500"}, "more than the limit of 500"},
};

class SizeLimit : public CliTest, public ::testing::WithParamInterface<LimitCase> {};

// The size limits given on the command line refuse a 512 x 512 image that the defaults accept.
TEST_P(SizeLimit, RefusesALargerImage)
{
	std::vector<std::string> arguments = GetParam().options;
	arguments.insert(arguments.end(), {"apply", "My", SamplePath("astronaut.png"), Path("o.png")});

	RunResult run = RunQuimbel(arguments);

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(SamplePath("astronaut.png") + ": "), std::string::npos) << run.err;
	EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
	EXPECT_TRUE(Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Options, SizeLimit, ::testing::ValuesIn(kLimits),
                         [](const auto& info) { return std::string(info.param.label); });

typedef CliTest MissingInput;

// An input that does not exist, or is a folder, is named with the reason.
TEST_F(MissingInput, IsNamed)
{
	RunResult missing = RunQuimbel({"apply", "My", Path("nothing.png"), Path("o.png")});
	RunResult folder = RunQuimbel({"apply", "My", fFolder, Path("o.png")});

	EXPECT_EQ(missing.status, 1);
	EXPECT_NE(missing.err.find(Path("nothing.png") + ": cannot open"), std::string::npos)
	    << missing.err;
	EXPECT_EQ(folder.status, 1);
	EXPECT_NE(folder.err.find(fFolder + ": is a folder"), std::string::npos) << folder.err;
	EXPECT_TRUE(Entries().empty());
}

// A file name with a newline and terminal escapes in it is shown escaped: the message stays one
// line, and no control character reaches the terminal.
TEST_F(CliTest, FileNamesInMessagesAreEscaped)
{
	std::string name = "evil\n\x1b]0;owned\x07\xc2\x9b"
	                   "2J.png";
	WriteBytes(Path(name), Bytes(20, 'x'));

	RunResult run = RunQuimbel({"apply", "My", Path(name), Path("out.png")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.err,
	          "quimbel: " + fFolder +
	              "/evil\\n\\x1b]0;owned\\x07\\xc2\\x9b"
	              "2J.png: not an image file of a kind this program reads (PNG, JPEG, WebP, "
	              "TIFF, HEIC, AVIF)\n");
}

// A PNG whose metadata chunk claims 2^31 - 1 bytes, of which the file holds a dozen.
Bytes ClaimedChunk(const char* type)
{
	std::vector<PngChunk> chunks = SplitPng(ReadBytes(SamplePath("foo3x5x4indexed.png")));
	Bytes bytes = JoinPng({chunks[0]});
	const uint8 kClaim[] = {0x7f, 0xff, 0xff, 0xff};
	bytes.insert(bytes.end(), kClaim, kClaim + 4);
	bytes.insert(bytes.end(), type, type + 4);
	const char* kData = "key\0some text";
	bytes.insert(bytes.end(), kData, kData + 14);
	return bytes;
}

// A valid PNG with 100 zTXt chunks of 7.9 MB of text each, compressed to 8 KB.
Bytes ManyCompressedTexts()
{
	std::string text(7900000, 'a');
	uLongf size = compressBound(text.size());
	Bytes compressed(size);
	compress2(compressed.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(),
	          9);
	compressed.resize(size);
	std::vector<PngChunk> chunks = SplitPng(ReadBytes(SamplePath("foo3x5x4indexed.png")));
	std::vector<PngChunk> hostile = {chunks[0]};
	for (int i = 0; i < 100; i++) {
		// Keyword "key", its NUL, the compression method 0, then the compressed text.
		PngChunk chunk{"zTXt", Bytes(5 + compressed.size(), 0)};
		memcpy(chunk.data.data(), "key", 3);
		memcpy(chunk.data.data() + 5, compressed.data(), compressed.size());
		hostile.push_back(chunk);
	}
	hostile.insert(hostile.end(), chunks.begin() + 1, chunks.end());
	return JoinPng(hostile);
}

const BadFile kHostileFiles[] = {
    {"ClaimedText", "text.png", [] { return ClaimedChunk("tEXt"); }, "chunk data is too large"},
    {"ClaimedCompressedText", "ztext.png", [] { return ClaimedChunk("zTXt"); },
     "chunk data is too large"},
    {"ClaimedInternationalText", "itext.png", [] { return ClaimedChunk("iTXt"); },
     "chunk data is too large"},
    {"ClaimedPalette", "splt.png", [] { return ClaimedChunk("sPLT"); }, "chunk data is too large"},
    {"ManyCompressedTexts", "ztexts.png", ManyCompressedTexts,
     "its metadata chunks need more than the 16 MiB allowed"},
};

class HostileChunks : public CliTest, public ::testing::WithParamInterface<BadFile> {};

// Metadata chunks that claim or unpack to far more than a picture needs are refused before
// their memory is taken: each file fails with a small peak of memory, and within an address
// space far below what the chunks claim.
TEST_P(HostileChunks, FailWithLittleMemory)
{
	const BadFile& file = GetParam();
	WriteBytes(Path(file.fileName), file.make());
	RunSetup setup;
#if !defined(__SANITIZE_ADDRESS__)
	// AddressSanitizer reserves terabytes of address space for itself: no limit there, where
	// the peak below still tells.
	setup.addressSpace = 512 * 1024 * 1024;
#endif

	RunResult run = RunQuimbelWith({"apply", "My", Path(file.fileName), Path("out.png")}, setup);

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path(file.fileName) + ": "), std::string::npos) << run.err;
	EXPECT_NE(run.err.find(file.message), std::string::npos) << run.err;
	EXPECT_LT(run.maxResidentKilobytes, 200 * 1024);
	EXPECT_EQ(Entries(), std::vector<std::string>({file.fileName}));
}

INSTANTIATE_TEST_SUITE_P(Files, HostileChunks, ::testing::ValuesIn(kHostileFiles),
                         [](const auto& info) { return std::string(info.param.label); });

// An image that alone needs more memory than --max-memory allows is refused before it is
// decoded, naming the option; files that each fit, but not together, wait for one another and
// are all written.
TEST_F(CliTest, MemoryBudget)
{
	RunResult refused = RunQuimbel(
	    {"apply", "Double", SamplePath("chelsea.png"), Path("big.png"), "--max-memory", "1M"});
	EXPECT_EQ(refused.status, 1);
	EXPECT_EQ(refused.err, "quimbel: " + SamplePath("chelsea.png") +
	                           ": the image of 451 x 300 pixels needs about 3 MiB, more than the 1 "
	                           "MiB that --max-memory allows\n");
	EXPECT_EQ(Entries(), std::vector<std::string>());

	RunResult waited =
	    RunQuimbel({"apply", "Double", SamplePath("chelsea.png"), SamplePath("astronaut.png"),
	                SamplePath("camera.png"), SamplePath("logo.png"), "-o", Path("out"), "-j", "4",
	                "--max-memory", "6M"});
	EXPECT_EQ(waited.status, 0) << waited.err;
	EXPECT_EQ(Entries(Path("out")).size(), 4u);
}

} // namespace
