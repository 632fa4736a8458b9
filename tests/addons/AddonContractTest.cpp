// The contract every filter add-on keeps towards the host, checked on each built add-on file.
#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <OverwriteBitmap.h>

#include "TestSupport.h"

namespace {

struct AddonRow {
	const char* deliverable;
	int32 id;
	const char* name;
};

// One row per add-on: the file it is built as, and what its filter object must carry.
const AddonRow kAddons[] = {
    {"ChannelLift", 1, "Brighten"},       {"CopyThrough", 100, "My"},
    {"Inverter", 0x6E656761, "Negative"}, {"Shrinker", 10, "Half"},
    {"Enlarger", 11, "Double"},           {"TurnRight", 9, "Rotate CW 90"},
    {"TurnLeft", 8, "Rotate CCW 90"},     {"RowMirror", 5, "Flip Horizontal"},
    {"ColumnMirror", 4, "Flip Vertical"},
};

void PrintTo(const AddonRow& row, std::ostream* out)
{
	*out << row.deliverable;
}

// The defined symbols of the file's dynamic symbol table that are global or weak.
std::set<std::string> ExportedSymbols(const std::string& path)
{
	std::set<std::string> symbols;
	elf_version(EV_CURRENT);
	int fd = open(path.c_str(), O_RDONLY);
	EXPECT_GE(fd, 0) << path;
	Elf* elf = elf_begin(fd, ELF_C_READ, NULL);
	EXPECT_NE(elf, nullptr) << elf_errmsg(-1);
	Elf_Scn* section = NULL;
	while (elf != NULL && (section = elf_nextscn(elf, section)) != NULL) {
		GElf_Shdr header;
		if (gelf_getshdr(section, &header) == NULL || header.sh_type != SHT_DYNSYM)
			continue;
		Elf_Data* data = elf_getdata(section, NULL);
		size_t count = header.sh_entsize == 0 ? 0 : header.sh_size / header.sh_entsize;
		for (size_t i = 0; data != NULL && i < count; i++) {
			GElf_Sym symbol;
			if (gelf_getsym(data, (int)i, &symbol) == NULL || symbol.st_shndx == SHN_UNDEF)
				continue;
			int binding = GELF_ST_BIND(symbol.st_info);
			if (binding != STB_GLOBAL && binding != STB_WEAK)
				continue;
			symbols.insert(elf_strptr(elf, header.sh_link, symbol.st_name));
		}
	}
	if (elf != NULL)
		elf_end(elf);
	close(fd);
	return symbols;
}

// A source every filter serves: 32-bit, bounds at the origin, odd sizes, colour channels
// kept between 1 and 245 so that no filter takes a failure path on it.
BitmapPtr ContractSource()
{
	BitmapPtr source = MakeBitmap(37, 23, B_RGBA32);
	FillRandom(source.get(), 2024, 1, 245);
	return source;
}

class AddonContract : public testing::TestWithParam<AddonRow> {
protected:
	void SetUp() override
	{
		filter = LoadFilter(GetParam().deliverable);
		ASSERT_NE(filter, nullptr);
		source = ContractSource();
	}

	FilterPtr filter{NULL, FilterDeleter{}};
	BitmapPtr source;
};

// A new filter object carries its add-on's id and display name, and spare is 0.
TEST_P(AddonContract, NewObjectCarriesItsIdentity)
{
	EXPECT_EQ(filter->id, GetParam().id);
	EXPECT_STREQ(filter->name, GetParam().name);
	EXPECT_EQ(filter->spare, 0);
}

// Run(NULL) returns NULL and prints nothing.
TEST_P(AddonContract, NullSourceGivesNull)
{
	BBitmap* result = reinterpret_cast<BBitmap*>(1);
	std::string printed = CaptureStdout([&] { result = filter->Run(NULL); });
	EXPECT_EQ(result, nullptr);
	EXPECT_EQ(printed, "");
}

// Each call of instantiate_filter makes an independent object; deleting one leaves the other
// working.
TEST_P(AddonContract, InstancesAreIndependent)
{
	FilterPtr second = LoadFilter(GetParam().deliverable);
	ASSERT_NE(second, nullptr);
	EXPECT_NE(second.get(), filter.get());

	BitmapPtr expected(filter->Run(source.get()));
	ASSERT_NE(expected, nullptr);
	filter.reset();
	BitmapPtr result(second->Run(source.get()));
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(Words(*result), Words(*expected));
}

// Run only reads its source, and its result is a new bitmap in the source's colour space.
TEST_P(AddonContract, SourceIsOnlyRead)
{
	std::vector<uint32> before = Words(*source);
	BRect bounds = source->Bounds();
	BitmapPtr result(filter->Run(source.get()));
	ASSERT_NE(result, nullptr);
	EXPECT_NE(result.get(), source.get());
	EXPECT_EQ(Words(*source), before);
	EXPECT_EQ(source->Bounds(), bounds);
	EXPECT_FALSE(source->IsLocked());
	EXPECT_EQ(result->ColorSpace(), source->ColorSpace());
}

// Run keeps no state in the object: repeated calls give the same bytes.
TEST_P(AddonContract, RunIsRepeatable)
{
	BitmapPtr first(filter->Run(source.get()));
	BitmapPtr second(filter->Run(source.get()));
	ASSERT_NE(first, nullptr);
	ASSERT_NE(second, nullptr);
	EXPECT_EQ(first->Bounds(), second->Bounds());
	EXPECT_EQ(Words(*first), Words(*second));
}

// Several threads running one filter object at once get what one thread gets.
TEST_P(AddonContract, ConcurrentRunsAgree)
{
	BitmapPtr expected(filter->Run(source.get()));
	ASSERT_NE(expected, nullptr);
	std::vector<uint32> expectedWords = Words(*expected);

	const int kThreads = 4;
	const int kRunsEach = 5;
	std::vector<int> mismatches(kThreads, 0);
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; t++) {
		threads.emplace_back([&, t] {
			for (int i = 0; i < kRunsEach; i++) {
				BitmapPtr result(filter->Run(source.get()));
				if (result == nullptr || Words(*result) != expectedWords)
					mismatches[t]++;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(std::count(mismatches.begin(), mismatches.end(), 0), kThreads);
}

// The result's bytes are all written by the filter: whatever the memory of a new bitmap held
// before (filters that write every pixel take it uncleared), the result is the same. Checked on a
// small image and on one whose memory comes from the large-block path, in both 32-bit spaces,
// and on a black one, from which "Brighten" leaves rows unwritten on purpose.
TEST_P(AddonContract, ResultDoesNotDependOnEarlierMemory)
{
	const struct {
		int32 width, height;
		color_space space;
		bool black;
	} kSources[] = {{37, 23, B_RGBA32, false},
	                {37, 23, B_RGB32, false},
	                {613, 509, B_RGBA32, false},
	                {41, 17, B_RGBA32, true}};
	for (const auto& shape : kSources) {
		BitmapPtr image = MakeBitmap(shape.width, shape.height, shape.space);
		if (!shape.black)
			FillRandom(image.get(), 99, 1, 245);
		std::vector<std::vector<uint32>> results;
		for (int fill : {0x00, 0xff, 0x5a}) {
			BPrivate::SetOverwriteFill(fill);
			BitmapPtr result(filter->Run(image.get()));
			BPrivate::SetOverwriteFill(-1);
			if (result == nullptr)
				continue;
			results.push_back(Words(*result));
		}
		ASSERT_EQ(results.size(), 3u) << shape.width << " x " << shape.height;
		EXPECT_TRUE(results[0] == results[1] && results[0] == results[2])
		    << shape.width << " x " << shape.height << " " << (int)shape.space;
	}
}

// The add-on file exports instantiate_filter and no other symbol.
TEST_P(AddonContract, ExportsOnlyTheEntryPoint)
{
	EXPECT_EQ(ExportedSymbols(AddonPath(GetParam().deliverable)),
	          std::set<std::string>{"instantiate_filter"});
}

INSTANTIATE_TEST_SUITE_P(AllAddons, AddonContract, testing::ValuesIn(kAddons),
                         [](const testing::TestParamInfo<AddonRow>& info) {
	                         return info.param.deliverable;
                         });

// Every add-on the build makes is checked: none is missing from the table above.
TEST(AddonTable, CoversEveryBuiltAddon)
{
	std::set<std::string> listed;
	for (const AddonRow& row : kAddons)
		listed.insert(row.deliverable);
	std::vector<std::string> built = BuiltAddonFiles();
	EXPECT_EQ(std::set<std::string>(built.begin(), built.end()), listed);
}

} // namespace
