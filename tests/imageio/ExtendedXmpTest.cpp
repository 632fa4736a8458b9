// XMP larger than one JPEG segment is written as a standard packet and an extension in parts,
// and read back whole; an extension with a part missing, lying or misnamed is left out, never
// half joined.
#include <algorithm>
#include <cstring>
#include <functional>

#include <exiv2/exiv2.hpp>
#include <nettle/md5.h>

#include "ExtendedXmp.h"
#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "MetadataSupport.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

const char kTitle[] = "Harbour at dusk";

std::string NoteKey(int i)
{
	return "Xmp.qt.Note" + std::to_string(i);
}

// XMP with a title and `count` notes of `size` characters each, each a property of its own: one
// large property, or many small ones.
std::string LargeXmp(int count, size_t size)
{
	Exiv2::XmpParser::initialize();
	Exiv2::XmpProperties::registerNs("http://quimbel.example/test/", "qt");
	Exiv2::XmpData data;
	data["Xmp.dc.title"] = kTitle;
	for (int i = 0; i < count; i++)
		data[NoteKey(i)] = std::string(size, (char)('a' + i % 26));
	std::string packet;
	EXPECT_EQ(Exiv2::XmpParser::encode(packet, data), 0);
	return packet;
}

// The payloads of a file's extension segments, in file order.
std::vector<Bytes> ExtensionPayloads(const std::string& path)
{
	Bytes file = ReadBytes(path);
	std::vector<Bytes> payloads;
	// Segments from after SOI up to the start of the scan.
	for (size_t at = 2; at + 4 <= file.size() && file[at] == 0xff && file[at + 1] != 0xda;) {
		size_t length = (size_t)file[at + 2] << 8 | file[at + 3];
		const uint8* data = file.data() + at + 4;
		if (file[at + 1] == 0xe1 && length - 2 >= kExtendedXmpSignatureSize &&
		    memcmp(data, kExtendedXmpSignature, kExtendedXmpSignatureSize) == 0)
			payloads.emplace_back(data + kExtendedXmpSignatureSize, data + length - 2);
		at += 2 + length;
	}
	return payloads;
}

std::string Md5Hex(const std::string& text)
{
	md5_ctx context;
	md5_init(&context);
	md5_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
	uint8_t digest[MD5_DIGEST_SIZE];
	md5_digest(&context, sizeof(digest), digest);
	char hex[2 * MD5_DIGEST_SIZE + 1];
	for (size_t i = 0; i < sizeof(digest); i++)
		snprintf(hex + 2 * i, 3, "%02X", digest[i]);
	return hex;
}

struct LargeXmpCase {
	const char* name;
	int count;
	size_t size;
	// Extension segments expected at least.
	size_t parts;
};

void PrintTo(const LargeXmpCase& row, std::ostream* out)
{
	*out << row.name;
}

const LargeXmpCase kLargeXmpCases[] = {
    {"FitsOneSegment", 1, 20000, 0},
    {"JustOver", 1, 70000, 1},
    {"SeveralParts", 1, 300000, 5},
    {"ManySmallProperties", 1500, 60, 1},
};

class ExtendedXmpTest : public ScratchTest, public ::testing::WithParamInterface<LargeXmpCase> {};

// The XMP goes through a JPEG file whole: every property, read back from the joined parts, with
// no note of an extension left; each part names the MD5 digest of the whole extension.
TEST_P(ExtendedXmpTest, GoesThroughJpegWhole)
{
	ImageMetadata metadata;
	metadata.xmp = LargeXmp(GetParam().count, GetParam().size);
	BitmapPtr bitmap = MakeBitmap(8, 6, B_RGB32);
	std::string path = Path("large.jpg");
	std::string error;
	ASSERT_TRUE(WriteImage(*bitmap, path, WriteOptions(), error, &metadata)) << error;

	std::vector<Bytes> payloads = ExtensionPayloads(path);
	EXPECT_GE(payloads.size(), GetParam().parts);
	if (GetParam().parts == 0) {
		EXPECT_TRUE(payloads.empty());
	}
	std::string extension;
	for (const Bytes& payload : payloads) {
		ExtendedXmpPart part;
		ASSERT_TRUE(ReadExtendedXmpPart(payload.data(), payload.size(), part));
		extension.append(reinterpret_cast<const char*>(part.data), part.size);
	}
	for (const Bytes& payload : payloads) {
		ExtendedXmpPart part;
		ASSERT_TRUE(ReadExtendedXmpPart(payload.data(), payload.size(), part));
		EXPECT_EQ(part.digest, Md5Hex(extension));
		EXPECT_EQ(part.fullSize, extension.size());
	}

	ImageMetadata read;
	ASSERT_NE(ReadImage(path, ImageLimits(), error, &read), nullptr) << error;
	EXPECT_EQ(XmpValue(read.xmp, "Xmp.dc.title"), XmpValue(metadata.xmp, "Xmp.dc.title"));
	// Decoded once: the many small notes are looked up in the decoded data.
	Exiv2::XmpData notes;
	ASSERT_EQ(Exiv2::XmpParser::decode(notes, read.xmp), 0);
	for (int i = 0; i < GetParam().count; i++) {
		auto note = notes.findKey(Exiv2::XmpKey(NoteKey(i)));
		ASSERT_NE(note, notes.end()) << NoteKey(i);
		ASSERT_EQ(note->toString(), std::string(GetParam().size, (char)('a' + i % 26)));
	}
	EXPECT_EQ(XmpValue(read.xmp, "Xmp.xmpNote.HasExtendedXMP"), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExtendedXmpTest, ::testing::ValuesIn(kLargeXmpCases),
                         [](const ::testing::TestParamInfo<LargeXmpCase>& info) {
	                         return std::string(info.param.name);
                         });

// A split of several parts, as the reader finds them.
struct Split {
	std::string standard;
	std::vector<std::vector<uint8>> payloads;
	std::vector<ExtendedXmpPart> parts;
};

void MakeSplit(Split& split)
{
	ASSERT_TRUE(SplitExtendedXmp(LargeXmp(1, 200000), split.standard, split.payloads));
	ASSERT_GE(split.payloads.size(), 3u);
	for (const std::vector<uint8>& payload : split.payloads) {
		ExtendedXmpPart part;
		ASSERT_TRUE(ReadExtendedXmpPart(payload.data(), payload.size(), part));
		split.parts.push_back(part);
	}
}

// Parts joined in any order give the whole; the standard packet alone fits a segment and says
// where the rest is.
TEST(JoinExtendedXmp, TakesPartsInAnyOrder)
{
	Split split;
	ASSERT_NO_FATAL_FAILURE(MakeSplit(split));
	EXPECT_LE(split.standard.size(), kMostStandardXmp);
	EXPECT_EQ(XmpValue(split.standard, NoteKey(0)), "");
	EXPECT_EQ(XmpValue(split.standard, "Xmp.xmpNote.HasExtendedXMP"), split.parts[0].digest);
	std::reverse(split.parts.begin(), split.parts.end());
	std::string joined = JoinExtendedXmp(split.standard, split.parts);
	EXPECT_EQ(XmpValue(joined, NoteKey(0)), std::string(200000, 'a'));
	EXPECT_EQ(XmpValue(joined, "Xmp.dc.title"), XmpValue(split.standard, "Xmp.dc.title"));
}

// Damage of each kind leaves the standard packet as it is: a part missing, a part given twice,
// a size or offset that lies, another extension's name, a part of what is not XMP.
TEST(JoinExtendedXmp, LeavesDamagedExtensionsOut)
{
	Split split;
	ASSERT_NO_FATAL_FAILURE(MakeSplit(split));
	auto damaged = [&](const std::function<void(std::vector<ExtendedXmpPart>&)>& damage) {
		std::vector<ExtendedXmpPart> parts = split.parts;
		damage(parts);
		return JoinExtendedXmp(split.standard, parts);
	};
	std::string notXmp = "not xml at all";
	std::vector<std::function<void(std::vector<ExtendedXmpPart>&)>> damages = {
	    [](auto& parts) { parts.erase(parts.begin() + 1); },
	    [](auto& parts) { parts.push_back(parts[1]); },
	    [](auto& parts) { parts.back().fullSize += 10; },
	    [](auto& parts) {
		    for (auto& part : parts)
			    part.fullSize = 0xffffffffu;
	    },
	    [](auto& parts) { parts[1].offset -= 1; },
	    [](auto& parts) {
		    for (auto& part : parts)
			    part.digest[0] = part.digest[0] == 'A' ? 'B' : 'A';
	    },
	    [&](auto& parts) {
		    parts = {ExtendedXmpPart{parts[0].digest, (uint32)notXmp.size(), 0,
		                             reinterpret_cast<const uint8*>(notXmp.data()), notXmp.size()}};
	    },
	};
	for (size_t i = 0; i < damages.size(); i++)
		EXPECT_EQ(damaged(damages[i]), split.standard) << "damage " << i;
}

} // namespace
