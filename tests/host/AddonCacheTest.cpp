// The cache of what scans of the add-on folder found: what it writes it reads back whatever the
// bytes of paths and names, a damaged file gives nothing, and any change to an add-on file makes
// its entry miss.
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AddonCache.h"
#include "Scratch.h"

namespace {

class AddonCacheTest : public ScratchTest {
protected:
	struct stat StatusOf(const std::string& path)
	{
		struct stat status = {};
		EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
		return status;
	}
};

// Entries with every awkward byte in their paths and names come back as they went, from the
// text and from the file, which is written whole: no temporary file is left beside it.
TEST_F(AddonCacheTest, ReadsBackWhatItWrites)
{
	const std::string odd = Path("with space\ttab\nnewline \xff\x01");
	WriteText(odd, "add-on");
	WriteText(Path("plain"), "another add-on");
	std::string cacheFile = Path("cache/quimbel/addons");

	AddonCache written;
	written.Load(cacheFile);
	written.Remember(odd, StatusOf(odd), -7, "Na\tme \"with\" \n bytes \xc3\xa9");
	written.Remember(Path("plain"), StatusOf(Path("plain")), 0x6e656761, "Negative");
	written.Save();
	EXPECT_EQ(Entries(Path("cache/quimbel")), std::vector<std::string>{"addons"});

	AddonCache parsed;
	ASSERT_TRUE(parsed.Parse(written.Format()));
	AddonCache read;
	read.Load(cacheFile);
	for (const AddonCache* cache : {&parsed, &read}) {
		ASSERT_EQ(cache->Entries().size(), 2u);
		const CachedAddon* found = cache->Find(odd, StatusOf(odd));
		ASSERT_NE(found, nullptr);
		EXPECT_EQ(found->id, -7);
		EXPECT_EQ(found->name, "Na\tme \"with\" \n bytes \xc3\xa9");
		found = cache->Find(Path("plain"), StatusOf(Path("plain")));
		ASSERT_NE(found, nullptr);
		EXPECT_EQ(found->id, 0x6e656761);
		EXPECT_EQ(found->name, "Negative");
	}
}

// A file changed in place, even to the same size and back-dated, or replaced by another, or
// removed, is no longer found; the cache drops the entries of files that are gone as it saves.
TEST_F(AddonCacheTest, ChangedFilesMiss)
{
	for (const char* name : {"edited", "replaced", "removed", "kept"})
		WriteText(Path(name), "12345678");
	AddonCache cache;
	cache.Load(Path("addons-cache"));
	for (const char* name : {"edited", "replaced", "removed", "kept"})
		cache.Remember(Path(name), StatusOf(Path(name)), 1, name);

	struct stat before = StatusOf(Path("edited"));
	// Change times have nanoseconds, but a coarse clock may not have moved on yet.
	usleep(20000);
	WriteText(Path("edited"), "87654321");
	struct timespec times[2] = {before.st_atim, before.st_mtim};
	ASSERT_EQ(utimensat(AT_FDCWD, Path("edited").c_str(), times, 0), 0);
	WriteText(Path("replacement"), "12345678");
	std::filesystem::rename(Path("replacement"), Path("replaced"));
	std::filesystem::remove(Path("removed"));

	EXPECT_EQ(cache.Find(Path("edited"), StatusOf(Path("edited"))), nullptr);
	EXPECT_EQ(cache.Find(Path("replaced"), StatusOf(Path("replaced"))), nullptr);
	EXPECT_NE(cache.Find(Path("kept"), StatusOf(Path("kept"))), nullptr);

	cache.Save();
	AddonCache saved;
	saved.Load(Path("addons-cache"));
	std::vector<std::string> paths;
	for (const CachedAddon& entry : saved.Entries())
		paths.push_back(entry.path);
	EXPECT_EQ(paths, (std::vector<std::string>{Path("edited"), Path("replaced"), Path("kept")}));
}

struct DamagedCache {
	const char* label;
	std::string text;
};

void PrintTo(const DamagedCache& damaged, std::ostream* out)
{
	*out << damaged.label;
}

const std::string kHeader = "quimbel-addon-cache 1\n";
const std::string kGoodLine = "2f61 1 2 3 4 5 6 4e";

const DamagedCache kDamagedCaches[] = {
    {"NoHeader", kGoodLine + "\n"},
    {"OtherVersion", "quimbel-addon-cache 2\n" + kGoodLine + "\n"},
    {"LineCutShort", kHeader + kGoodLine},
    {"FieldMissing", kHeader + "2f61 1 2 3 4 5 6\n"},
    {"FieldTooMany", kHeader + kGoodLine + " 7\n"},
    {"DoubleSpace", kHeader + "2f61  1 2 3 4 5 6 4e\n"},
    {"OddHex", kHeader + "2f6 1 2 3 4 5 6 4e\n"},
    {"CapitalHex", kHeader + "2F61 1 2 3 4 5 6 4e\n"},
    {"NotHex", kHeader + "2g61 1 2 3 4 5 6 4e\n"},
    {"EmptyName", kHeader + "2f61 1 2 3 4 5 6 \n"},
    {"NulInPath", kHeader + "2f00 1 2 3 4 5 6 4e\n"},
    {"NulInName", kHeader + "2f61 1 2 3 4 5 6 4e00\n"},
    {"NameTooLong", kHeader + "2f61 1 2 3 4 5 6 " + std::string(128, '4') + "\n"},
    {"NegativeSize", kHeader + "2f61 1 2 -3 4 5 6 4e\n"},
    {"DeviceTooLarge", kHeader + "2f61 18446744073709551616 2 3 4 5 6 4e\n"},
    {"IdTooLarge", kHeader + "2f61 1 2 3 4 5 2147483648 4e\n"},
    {"TimeTooSmall", kHeader + "2f61 1 2 3 -9223372036854775809 5 6 4e\n"},
    {"NotANumber", kHeader + "2f61 1 2 3 4 5 0x6 4e\n"},
    {"LoneMinus", kHeader + "2f61 1 2 3 - 5 6 4e\n"},
    {"GoodThenBad", kHeader + kGoodLine + "\n" + "2f62 1 2 3\n"},
};

class DamagedAddonCache : public testing::TestWithParam<DamagedCache> {};

// Whatever is wrong with the file, none of it is used: every add-on is loaded again.
TEST_P(DamagedAddonCache, GivesNothing)
{
	AddonCache good;
	ASSERT_TRUE(good.Parse(kHeader + kGoodLine + "\n"));
	ASSERT_EQ(good.Entries().size(), 1u);

	AddonCache cache;
	EXPECT_FALSE(cache.Parse(GetParam().text));
	EXPECT_TRUE(cache.Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedAddonCache, testing::ValuesIn(kDamagedCaches),
                         [](const testing::TestParamInfo<DamagedCache>& info) {
	                         return std::string(info.param.label);
                         });

} // namespace
