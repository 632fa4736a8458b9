// Scanning an add-on folder: usable add-ons become entries, every other file a problem named by
// its file, and the one rule for what those problems mean to a command.
#include <filesystem>

#include <gtest/gtest.h>

#include "AddonFolder.h"
#include "Scratch.h"
#include "TestSupport.h"

namespace {

class AddonFolderScan : public ScratchTest {
protected:
	void Copy(const std::string& from, const std::string& name)
	{
		std::filesystem::copy_file(from, Path(name));
	}
};

// Add-ons are listed by file name with their filter's id and name; a text file and a library
// without the entry point are problems, and hidden files and folders are passed over.
TEST_F(AddonFolderScan, SortsAddonsFromProblems)
{
	Copy(AddonPath("Inverter"), "Inverter");
	Copy(AddonPath("CopyThrough"), "CopyThrough");
	Copy(QUIMBEL_TEST_NO_ENTRY_POINT, "NoEntryPoint");
	WriteText(Path("README"), "not an add-on\n");
	WriteText(Path(".hidden"), "not looked at\n");
	std::filesystem::create_directory(Path("folder"));

	AddonFolder folder;
	std::string error;
	ASSERT_TRUE(folder.Scan(fFolder, error)) << error;
	ASSERT_EQ(folder.Entries().size(), 2u);
	EXPECT_EQ(folder.Entries()[0].fileName, "CopyThrough");
	EXPECT_EQ(folder.Entries()[0].name, "My");
	EXPECT_EQ(folder.Entries()[1].fileName, "Inverter");
	EXPECT_EQ(folder.Entries()[1].id, 0x6E656761);
	ASSERT_EQ(folder.Problems().size(), 2u);
	EXPECT_EQ(folder.Problems()[0].rfind(Path("NoEntryPoint") + ": ", 0), 0u);
	EXPECT_EQ(folder.Problems()[1].rfind(Path("README") + ": ", 0), 0u);

	// Commands about every add-on fail with a broken file; those that name theirs do not.
	EXPECT_TRUE(folder.ProblemsFail(FolderUse::kEveryAddon));
	EXPECT_FALSE(folder.ProblemsFail(FolderUse::kNamedAddons));
}

// A folder of usable add-ons fails no command.
TEST_F(AddonFolderScan, CleanFolderFailsNoCommand)
{
	Copy(AddonPath("Shrinker"), "Shrinker");
	AddonFolder folder;
	std::string error;
	ASSERT_TRUE(folder.Scan(fFolder, error)) << error;
	EXPECT_FALSE(folder.ProblemsFail(FolderUse::kEveryAddon));
	EXPECT_FALSE(folder.ProblemsFail(FolderUse::kNamedAddons));
}

// A folder without any usable add-on, or none at all, fails the scan with a message naming it.
TEST_F(AddonFolderScan, EmptyOrMissingFolderGivesNothing)
{
	WriteText(Path("README"), "not an add-on\n");
	AddonFolder folder;
	std::string error;
	EXPECT_FALSE(folder.Scan(fFolder, error));
	EXPECT_EQ(error, fFolder + ": no filter add-ons found");
	EXPECT_EQ(folder.Problems().size(), 1u);

	EXPECT_FALSE(folder.Scan(Path("missing"), error));
	EXPECT_EQ(error.rfind(Path("missing") + ": cannot read the add-on folder", 0), 0u) << error;
}

// Folders are read in order; a filter with the name or id of one found before is shadowed, and
// folders other than the one named on the command line may be missing.
TEST_F(AddonFolderScan, EarlierFoldersShadowLaterOnes)
{
	std::filesystem::create_directories(Path("first"));
	std::filesystem::create_directories(Path("second"));
	Copy(AddonPath("Inverter"), "first/Negative");
	Copy(AddonPath("CopyThrough"), "second/CopyThrough");
	// Another file, the same filter: its id and name are taken.
	Copy(AddonPath("Inverter"), "second/Inverter");

	AddonFolder folder;
	std::string error;
	ASSERT_TRUE(folder.Scan(
	    {{Path("first"), true}, {Path("absent"), false}, {Path("second"), false}}, error))
	    << error;
	ASSERT_EQ(folder.Entries().size(), 2u);
	EXPECT_EQ(folder.Entries()[0].path, Path("first/Negative"));
	EXPECT_EQ(folder.Entries()[1].path, Path("second/CopyThrough"));
	EXPECT_EQ(folder.Folders(), std::vector<std::string>({Path("first"), Path("second")}));
	ASSERT_EQ(folder.Shadowed().size(), 1u);
	EXPECT_EQ(folder.Shadowed()[0], Path("second/Inverter") +
	                                    ": \"Negative\" (id 'nega') is shadowed by " +
	                                    Path("first/Negative"));

	// A folder named on the command line must be there.
	EXPECT_FALSE(folder.Scan({{Path("absent"), true}, {Path("first"), false}}, error));
	EXPECT_EQ(error.rfind(Path("absent") + ": cannot read the add-on folder", 0), 0u) << error;
}

// The search path: the command line's folder, the environment's in their order, the user's and
// the installed one, each once.
TEST(AddonSearchPath, ComesInOrderWithoutRepeats)
{
	std::vector<SearchFolder> folders =
	    AddonFolder::SearchPath("/chosen", "/listed/a::/listed/b:/chosen");
	std::vector<std::string> paths;
	for (const SearchFolder& folder : folders)
		paths.push_back(folder.path);
	std::vector<std::string> expected = {"/chosen", "/listed/a", "/listed/b"};
	if (!AddonFolder::UserPath().empty())
		expected.push_back(AddonFolder::UserPath());
	expected.push_back(AddonFolder::DefaultPath());
	EXPECT_EQ(paths, expected);
	EXPECT_TRUE(folders[0].named);
	EXPECT_FALSE(folders[1].named);
	EXPECT_FALSE(folders.back().named);
}

} // namespace
