// The resources every add-on file carries, read back from the built files, and the reader's
// answers to damaged files.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "IconSource.h"
#include "ResourceReader.h"
#include "ResourceText.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

struct ResourceRow {
	const char* deliverable;
	const char* shortInfo;
	const char* longInfo;
	// Whether the file carries an application signature and a file-types list.
	bool hasSignature;
};

// One row per add-on: the descriptions of its version record, and whether it has a signature.
const ResourceRow kResourceRows[] = {
    {"ChannelLift", "Quimbel Filter", "Quimbel Filter", true},
    {"ColumnMirror", "Quimbel Filter", "Quimbel Filter", true},
    {"RowMirror", "Quimbel Filter", "Quimbel Filter", true},
    {"TurnLeft", "Quimbel Filter", "Quimbel Filter", true},
    {"TurnRight", "Quimbel Filter", "Quimbel Filter", true},
    {"Shrinker", "Quimbel Filter", "Quimbel Filter", true},
    {"Enlarger", "Quimbel Filter", "Quimbel Filter", true},
    {"CopyThrough", "QuimbelFilter", "QuimbelFilter\t", true},
    {"Inverter", "", "", false},
};

void PrintTo(const ResourceRow& row, std::ostream* out)
{
	*out << row.deliverable;
}

// The file's bytes as libelf takes them from memory.
std::vector<char> FileBytes(const std::string& path)
{
	Bytes bytes = ReadBytes(path);
	return std::vector<char>(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const std::vector<char>& bytes)
{
	WriteBytes(path, Bytes(bytes.begin(), bytes.end()));
}

// The version record a file must carry: all numbers 0, then the two descriptions, each in its
// fixed-size, NUL-padded field.
std::vector<uint8> ExpectedVersionRecord(const std::string& shortInfo, const std::string& longInfo)
{
	std::vector<uint8> record(5 * 4 + 64 + 256, 0);
	memcpy(record.data() + 20, shortInfo.data(), shortInfo.size());
	memcpy(record.data() + 20 + 64, longInfo.data(), longInfo.size());
	return record;
}

const Resource* FindResource(const std::vector<Resource>& resources, uint32 type, int32 id)
{
	for (const Resource& resource : resources) {
		if (resource.type == type && resource.id == id)
			return &resource;
	}
	return NULL;
}

class AddonResources : public ScratchTest, public testing::WithParamInterface<ResourceRow> {
protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		path = AddonPath(GetParam().deliverable);
		std::string error;
		ASSERT_TRUE(ReadResources(path, resources, error)) << error;
	}

	std::string path;
	std::vector<Resource> resources;
};

// Each add-on carries exactly its table row's resources, under the platform's type codes, ids
// and names.
TEST_P(AddonResources, CarriesThePlatformResources)
{
	const ResourceRow& row = GetParam();
	std::vector<std::string> expected = {
	    "'ICON' 101 \"BEOS:L:STD_ICON\": large icon, 32 x 32 pixels",
	    "'MICN' 101 \"BEOS:M:STD_ICON\": mini icon, 16 x 16 pixels",
	    "'MIMS' 2 \"BEOS:TYPE\": string \"application/x-vnd.Be-elfexecutable\"",
	    "'APPV' 1 \"BEOS:APP_VERSION\": version 0.0.0 (development, internal 0), short "
	    "description " +
	        QuotedText(row.shortInfo) + ", long description " + QuotedText(row.longInfo),
	};
	if (row.hasSignature) {
		expected.push_back("'MIMS' 1 \"BEOS:APP_SIG\": string \"\"");
		expected.push_back("'MSGG' 1 \"BEOS:FILE_TYPES\": empty message");
	}
	std::vector<std::string> described;
	for (const Resource& resource : resources)
		described.push_back(DescribeResource(resource));
	EXPECT_THAT(described, testing::UnorderedElementsAreArray(expected));

	const Resource* version = FindResource(resources, TypeCode("APPV"), 1);
	ASSERT_NE(version, nullptr);
	EXPECT_EQ(version->data, ExpectedVersionRecord(row.shortInfo, row.longInfo));
	const Resource* fileType = FindResource(resources, TypeCode("MIMS"), 2);
	ASSERT_NE(fileType, nullptr);
	std::string mime = std::string("application/x-vnd.Be-elfexecutable") + '\0';
	EXPECT_EQ(fileType->data, Bytes(mime.begin(), mime.end()));
}

// All add-ons carry the same two icons: the pictures of the shared icon source.
TEST_P(AddonResources, CarriesTheSharedIcons)
{
	IconSet icons;
	std::string error;
	ASSERT_TRUE(ReadIconSource(QUIMBEL_TEST_ICON_SOURCE, icons, error)) << error;
	const Resource* large = FindResource(resources, TypeCode("ICON"), 101);
	const Resource* mini = FindResource(resources, TypeCode("MICN"), 101);
	ASSERT_NE(large, nullptr);
	ASSERT_NE(mini, nullptr);
	EXPECT_EQ(large->data, icons[32]);
	EXPECT_EQ(mini->data, icons[16]);
}

// The resources lie in a section that is not loaded into memory, and stripping the file keeps
// them unchanged.
TEST_P(AddonResources, SurviveStripping)
{
	std::vector<char> bytes = FileBytes(path);
	elf_version(EV_CURRENT);
	Elf* elf = elf_memory(bytes.data(), bytes.size());
	ASSERT_NE(elf, nullptr);
	size_t namesIndex = 0;
	elf_getshdrstrndx(elf, &namesIndex);
	int found = 0;
	for (Elf_Scn* section = elf_nextscn(elf, NULL); section != NULL;
	     section = elf_nextscn(elf, section)) {
		GElf_Shdr header;
		ASSERT_NE(gelf_getshdr(section, &header), nullptr);
		if (strcmp(elf_strptr(elf, namesIndex, header.sh_name), ".resources") != 0)
			continue;
		found++;
		EXPECT_EQ(header.sh_flags & SHF_ALLOC, 0u);
	}
	elf_end(elf);
	EXPECT_EQ(found, 1);

	std::string stripped = Path("stripped");
	WriteFileBytes(stripped, bytes);
	std::string command = std::string(QUIMBEL_TEST_STRIP) + " --strip-all " + stripped;
	ASSERT_EQ(std::system(command.c_str()), 0) << command;
	std::vector<Resource> kept;
	std::string error;
	ASSERT_TRUE(ReadResources(stripped, kept, error)) << error;
	ASSERT_EQ(kept.size(), resources.size());
	for (size_t i = 0; i < kept.size(); i++) {
		EXPECT_EQ(kept[i].type, resources[i].type);
		EXPECT_EQ(kept[i].id, resources[i].id);
		EXPECT_EQ(kept[i].name, resources[i].name);
		EXPECT_EQ(kept[i].data, resources[i].data);
	}
}

INSTANTIATE_TEST_SUITE_P(AllAddons, AddonResources, testing::ValuesIn(kResourceRows),
                         [](const testing::TestParamInfo<ResourceRow>& info) {
	                         return info.param.deliverable;
                         });

// Where the resource section of an add-on file lies: its section header entry and its bytes.
struct SectionPlace {
	size_t headerOffset;
	size_t dataOffset;
	size_t dataSize;
	size_t nameOffset;
};

SectionPlace FindResourceSection(std::vector<char>& bytes)
{
	SectionPlace place{};
	elf_version(EV_CURRENT);
	Elf* elf = elf_memory(bytes.data(), bytes.size());
	EXPECT_NE(elf, nullptr);
	EXPECT_EQ(gelf_getclass(elf), ELFCLASS64);
	GElf_Ehdr elfHeader;
	gelf_getehdr(elf, &elfHeader);
	size_t namesIndex = 0;
	elf_getshdrstrndx(elf, &namesIndex);
	GElf_Shdr namesHeader;
	gelf_getshdr(elf_getscn(elf, namesIndex), &namesHeader);
	for (Elf_Scn* section = elf_nextscn(elf, NULL); section != NULL;
	     section = elf_nextscn(elf, section)) {
		GElf_Shdr header;
		gelf_getshdr(section, &header);
		if (strcmp(elf_strptr(elf, namesIndex, header.sh_name), ".resources") != 0)
			continue;
		place.headerOffset = elfHeader.e_shoff + elf_ndxscn(section) * sizeof(Elf64_Shdr);
		place.dataOffset = header.sh_offset;
		place.dataSize = header.sh_size;
		place.nameOffset = namesHeader.sh_offset + header.sh_name;
	}
	elf_end(elf);
	EXPECT_NE(place.dataSize, 0u);
	return place;
}

void PutWord(std::vector<char>& bytes, size_t offset, uint32 value)
{
	for (int shift = 0; shift < 32; shift += 8)
		bytes[offset++] = (char)(value >> shift);
}

uint32 GetWord(const std::vector<char>& bytes, size_t offset)
{
	uint32 value = 0;
	for (int shift = 0; shift < 32; shift += 8)
		value |= (uint32)(uint8)bytes[offset++] << shift;
	return value;
}

// Offsets inside the resource section: header, then 24-byte entries of six words.
const size_t kCountOffset = 8;
const size_t kEntriesOffset = 12;
const size_t kEntrySize = 24;
enum EntryField { kType, kId, kNameOffset, kNameSize, kDataOffset, kDataSize };

size_t FieldOffset(const SectionPlace& place, size_t entry, EntryField field)
{
	return place.dataOffset + kEntriesOffset + entry * kEntrySize + field * 4;
}

struct DamageRow {
	const char* label;
	// Damages a copy of CopyThrough in place, or replaces it.
	std::function<void(std::vector<char>& bytes, const SectionPlace& place)> damage;
	// What the message says after the file's path, less the numbers that vary between builds.
	const char* message;
};

const DamageRow kDamageRows[] = {
    {"NotElf",
     [](std::vector<char>& bytes, const SectionPlace&) {
	     std::string text = "#!/bin/sh\necho not an add-on\n";
	     bytes.assign(text.begin(), text.end());
     },
     ": not an ELF file"},
    {"Empty", [](std::vector<char>& bytes, const SectionPlace&) { bytes.clear(); },
     ": not an ELF file"},
    {"TruncatedInHeader", [](std::vector<char>& bytes, const SectionPlace&) { bytes.resize(40); },
     ": truncated or damaged ELF header"},
    {"TruncatedToHalf",
     [](std::vector<char>& bytes, const SectionPlace&) { bytes.resize(bytes.size() / 2); },
     ": truncated ELF file: the section header table claims "},
    {"TruncatedByOneByte", [](std::vector<char>& bytes, const SectionPlace&) { bytes.pop_back(); },
     ": truncated ELF file: the section header table claims "},
    {"SectionLongerThanFile",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, place.headerOffset + 32, (uint32)bytes.size());
     },
     " (.resources) claims "},
    {"SectionSizeWrapsAround",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, place.headerOffset + 32, 0xFFFFFFFF);
	     PutWord(bytes, place.headerOffset + 36, 0xFFFFFFFF);
     },
     " (.resources) claims 18446744073709551615 bytes at offset "},
    {"NoResourceSection",
     [](std::vector<char>& bytes, const SectionPlace& place) { bytes[place.nameOffset + 1] = 'X'; },
     ": no resources (the file has no .resources section)"},
    {"BadSectionHeader",
     [](std::vector<char>& bytes, const SectionPlace& place) { bytes[place.dataOffset] = 'X'; },
     ": the resource section has no valid header"},
    {"TooManyEntries",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, place.dataOffset + kCountOffset, 0x7FFFFFFF);
     },
     ": the resource section lists 2147483647 entries, more than its "},
    {"DataRunsPastSection",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, FieldOffset(place, 0, kDataSize), (uint32)place.dataSize);
     },
     ": the data of resource entry 1 ("},
    {"NameOffsetFarOutside",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, FieldOffset(place, 1, kNameOffset), 0xFFFFFFF0);
     },
     ": the name of resource entry 2 (15 bytes at offset 4294967280) runs past the end of "
     "the "},
    {"EntriesShareData",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, FieldOffset(place, 1, kDataOffset),
	             GetWord(bytes, FieldOffset(place, 0, kDataOffset)));
     },
     ": the data of resource entry 2 overlaps the data of resource entry 1"},
    {"NameOverlapsEntryTable",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, FieldOffset(place, 0, kNameOffset), kEntriesOffset);
     },
     ": the name of resource entry 1 overlaps the header and entry table"},
    {"RepeatedTypeAndId",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     PutWord(bytes, FieldOffset(place, 1, kType), GetWord(bytes, FieldOffset(place, 0, kType)));
     },
     ": resource entry 2 repeats type 'ICON' and id 101"},
    {"UnprintableName",
     [](std::vector<char>& bytes, const SectionPlace& place) {
	     bytes[place.dataOffset + GetWord(bytes, FieldOffset(place, 2, kNameOffset))] = '\x01';
     },
     ": resource entry 3 has a name with unprintable characters"},
};

void PrintTo(const DamageRow& row, std::ostream* out)
{
	*out << row.label;
}

class DamagedFile : public ScratchTest, public testing::WithParamInterface<DamageRow> {};

// A damaged add-on file gives no resources and a message that names the file and the damage.
TEST_P(DamagedFile, GivesItsMessage)
{
	std::vector<char> bytes = FileBytes(AddonPath("CopyThrough"));
	SectionPlace place = FindResourceSection(bytes);
	GetParam().damage(bytes, place);
	std::string path = Path(GetParam().label);
	WriteFileBytes(path, bytes);

	std::vector<Resource> resources;
	std::string error;
	EXPECT_FALSE(ReadResources(path, resources, error));
	EXPECT_TRUE(resources.empty());
	EXPECT_THAT(error, testing::StartsWith(path + ": "));
	EXPECT_THAT(error, testing::HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedFile, testing::ValuesIn(kDamageRows),
                         [](const testing::TestParamInfo<DamageRow>& info) {
	                         return info.param.label;
                         });

// A path that names no readable regular file gives a message naming it.
class ResourceReader : public ScratchTest {};

TEST_F(ResourceReader, RefusesWhatIsNoFile)
{
	for (const std::string& path : {Path("missing"), fFolder}) {
		std::vector<Resource> resources;
		std::string error;
		EXPECT_FALSE(ReadResources(path, resources, error));
		EXPECT_THAT(error, testing::StartsWith(path + ": "));
	}
}

// Any single corrupted byte or truncation of an add-on file is read or refused with a message,
// never read out of bounds (checked under the sanitizers).
TEST_F(ResourceReader, SurvivesRandomDamage)
{
	const int kTrials = 3000;
	std::vector<char> original = FileBytes(AddonPath("CopyThrough"));
	SectionPlace place = FindResourceSection(original);
	std::mt19937 random(8);
	// Half the trials hit the section headers and the resource section, where damage matters.
	std::uniform_int_distribution<size_t> anywhere(0, original.size() - 1);
	std::uniform_int_distribution<size_t> section(place.dataOffset, place.dataOffset + 300);
	std::uniform_int_distribution<size_t> headers(place.headerOffset - 4 * 64, original.size() - 1);
	int refused = 0;
	for (int trial = 0; trial < kTrials; trial++) {
		std::vector<char> image = original;
		switch (trial % 4) {
		case 0:
			image.resize(anywhere(random));
			break;
		case 1:
			image[anywhere(random)] ^= (char)(1 + random() % 255);
			break;
		case 2:
			image[section(random)] ^= (char)(1 + random() % 255);
			break;
		default:
			image[headers(random)] ^= (char)(1 + random() % 255);
			break;
		}
		std::vector<Resource> resources;
		std::string error;
		if (!ReadResourcesFromImage(image, "damaged", resources, error)) {
			EXPECT_THAT(error, testing::StartsWith("damaged: ")) << "trial " << trial;
			refused++;
			continue;
		}
		for (const Resource& resource : resources)
			EXPECT_FALSE(DescribeResource(resource).empty());
	}
	EXPECT_GT(refused, kTrials / 4);
}

} // namespace
