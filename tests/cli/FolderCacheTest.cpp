// What commands keep of the add-on folder between runs: a changed add-on file is loaded again,
// and a cache that no longer tells the truth costs a clear error, never a wrong filter's result.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CliSupport.h"

namespace {

std::string CacheFile()
{
	const char* folder = getenv("XDG_CACHE_HOME");
	return std::string(folder != NULL ? folder : "") + "/quimbel/addons";
}

std::string Hex(const std::string& text)
{
	static const char kDigits[] = "0123456789abcdef";
	std::string hex;
	for (unsigned char byte : text) {
		hex += kDigits[byte >> 4];
		hex += kDigits[byte & 0xf];
	}
	return hex;
}

// A folder read before is not loaded again: a run starts a worker only for the add-on it runs,
// and what that add-on prints as it loads still comes out.
TEST_F(CliTest, KnownFolderLoadsOnlyTheAddonRun)
{
	std::string addons = MakeAddonFolder(
	    "addons", {FixturePath("misbehaving/PrintOnLoad"), AddonPath("CopyThrough")});
	const std::string kPrinted = "printed while loading";
	std::vector<std::string> copy = {
	    "--addons", addons, "apply", "-y", "My", SamplePath("logo.png"), Path("out.png")};

	RunResult unknown = RunQuimbel(copy);
	ASSERT_EQ(unknown.status, 0) << unknown.err;
	EXPECT_NE(unknown.out.find(kPrinted), std::string::npos) << unknown.out;
	RunResult known = RunQuimbel(copy);
	ASSERT_EQ(known.status, 0) << known.err;
	EXPECT_EQ(known.out.find(kPrinted), std::string::npos) << known.out;
	RunResult printer = RunQuimbel({"--addons", addons, "apply", "-y", "Misbehaving",
	                                SamplePath("logo.png"), Path("out.png")});
	ASSERT_EQ(printer.status, 0) << printer.err;
	EXPECT_NE(printer.out.find(kPrinted), std::string::npos) << printer.out;
}

// An add-on file overwritten in place with another add-on runs as the new one in the next run,
// though the run before learnt the old one's name from it.
TEST_F(CliTest, ChangedAddonIsLoadedAgain)
{
	std::string addons = MakeAddonFolder("addons", {AddonPath("Inverter")});
	std::filesystem::rename(addons + "/Inverter", addons + "/Filter");
	std::string flips = MakeAddonFolder("flips", {AddonPath("RowMirror")});
	RunResult expected = RunQuimbel({"--addons", flips, "--in-process", "apply", "RowMirror",
	                                 SamplePath("logo.png"), Path("expected.png")});
	ASSERT_EQ(expected.status, 0) << expected.err;

	RunResult first =
	    RunQuimbel({"--addons", addons, "apply", "Filter", SamplePath("logo.png"), Path("1.png")});
	ASSERT_EQ(first.status, 0) << first.err;
	WriteBytes(addons + "/Filter", ReadBytes(AddonPath("RowMirror")));
	RunResult second =
	    RunQuimbel({"--addons", addons, "apply", "Filter", SamplePath("logo.png"), Path("2.png")});
	ASSERT_EQ(second.status, 0) << second.err;

	EXPECT_NE(ReadBytes(Path("1.png")), ReadBytes(Path("expected.png")));
	EXPECT_EQ(ReadBytes(Path("2.png")), ReadBytes(Path("expected.png")));
}

// A cache whose name for an add-on is not what the add-on says fails the run that relies on it,
// naming what happened and writing nothing; list reads the folder afresh and mends the cache.
TEST_F(CliTest, UntruthfulCacheIsCaught)
{
	std::string addons = MakeAddonFolder("addons", {AddonPath("CopyThrough")});
	ASSERT_EQ(RunQuimbel({"--addons", addons, "list"}).status, 0);
	Bytes bytes = ReadBytes(CacheFile());
	std::string cache(bytes.begin(), bytes.end());
	// The name is the entry's last field.
	std::string told = Hex("My");
	told.insert(0, 1, ' ').push_back('\n');
	std::string untrue = Hex("Renamed");
	untrue.insert(0, 1, ' ').push_back('\n');
	size_t name = cache.find(told);
	ASSERT_NE(name, std::string::npos) << cache;
	cache.replace(name, told.size(), untrue);
	WriteText(CacheFile(), cache);

	RunResult lied = RunQuimbel(
	    {"--addons", addons, "apply", "Renamed", SamplePath("logo.png"), Path("out.png")});
	EXPECT_EQ(lied.status, 1);
	EXPECT_NE(lied.err.find("\"Renamed\" (CopyThrough) is no longer the add-on found when the "
	                        "folder was read: it now says it is \"My\""),
	          std::string::npos)
	    << lied.err;
	EXPECT_FALSE(std::filesystem::exists(Path("out.png")));

	ASSERT_EQ(RunQuimbel({"--addons", addons, "list"}).status, 0);
	EXPECT_NE(RunQuimbel(
	              {"--addons", addons, "apply", "Renamed", SamplePath("logo.png"), Path("out.png")})
	              .status,
	          0);
	RunResult mended =
	    RunQuimbel({"--addons", addons, "apply", "My", SamplePath("logo.png"), Path("out.png")});
	EXPECT_EQ(mended.status, 0) << mended.err;
}

} // namespace
