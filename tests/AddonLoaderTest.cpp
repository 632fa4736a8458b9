// Loading add-on files: clear errors for files that are not add-ons, and the library kept
// loaded while any filter object it made lives.
#include <fstream>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct BadFileCase {
	const char* label;
	std::string path;
	std::string message;
};

std::string WriteFile(const std::string& name, const std::string& contents)
{
	std::string path = testing::TempDir() + name;
	std::ofstream(path, std::ios::binary) << contents;
	return path;
}

// A file that is missing, not a shared library or without instantiate_filter is refused with a
// message that names it and says what is wrong.
TEST(AddonLoader, RefusesFilesThatAreNotAddons)
{
	const BadFileCase cases[] = {
	    {"Missing", "/nonexistent/Nothing", "not a loadable add-on"},
	    {"Text", WriteFile("quimbel-text-addon", "just some text\n"), "not a loadable add-on"},
	    {"Empty", WriteFile("quimbel-empty-addon", ""), "not a loadable add-on"},
	    {"TruncatedElf",
	     WriteFile("quimbel-truncated-addon", std::string("\x7f"
	                                                      "ELF\x02\x01\x01",
	                                                      7)),
	     "not a loadable add-on"},
	    {"NoEntryPoint", QUIMBEL_TEST_NO_ENTRY_POINT, "exports no instantiate_filter"},
	};
	for (const BadFileCase& c : cases) {
		std::string error;
		EXPECT_EQ(Addon::Load(c.path, error), nullptr) << c.label;
		EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << c.label << ": " << error;
		EXPECT_NE(error.find(c.message), std::string::npos) << c.label << ": " << error;
	}
}

// The filter object keeps its add-on loaded after the host drops its own reference.
TEST(AddonLoader, ObjectsKeepTheirAddonLoaded)
{
	std::string error;
	std::shared_ptr<Addon> addon = Addon::Load(AddonPath("CopyThrough"), error);
	ASSERT_NE(addon, nullptr) << error;
	EXPECT_EQ(addon->FileName(), "CopyThrough");
	FilterPtr filter = addon->Instantiate(error);
	ASSERT_NE(filter, nullptr) << error;
	std::weak_ptr<Addon> watch = addon;
	addon.reset();
	EXPECT_FALSE(watch.expired());

	BBitmap source(BRect(0, 0, 3, 3), B_RGBA32);
	BitmapPtr result(filter->Run(&source));
	EXPECT_NE(result, nullptr);
	filter.reset();
	EXPECT_TRUE(watch.expired());
}

} // namespace
