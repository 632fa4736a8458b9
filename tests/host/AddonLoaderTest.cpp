// Loading add-on files: clear errors for files that are not add-ons, and the library kept
// loaded while any filter object it made lives.
#include <gtest/gtest.h>

#include "Scratch.h"
#include "TestSupport.h"

namespace {

class AddonLoader : public ScratchTest {};

// A file that is missing, not a shared library or without instantiate_filter is refused with a
// message that names it and says what is wrong, by the loader and by LoadFilter alike.
TEST_F(AddonLoader, RefusesFilesThatAreNotAddons)
{
	WriteText(Path("Text"), "just some text\n");
	WriteText(Path("Empty"), "");
	WriteBytes(Path("TruncatedElf"), Bytes{0x7f, 'E', 'L', 'F', 2, 1, 1});
	const struct {
		std::string path;
		const char* message;
	} cases[] = {
	    {"/nonexistent/Nothing", "not a loadable add-on"},
	    {Path("Text"), "not a loadable add-on"},
	    {Path("Empty"), "not a loadable add-on"},
	    {Path("TruncatedElf"), "not a loadable add-on"},
	    {QUIMBEL_TEST_NO_ENTRY_POINT, "exports no instantiate_filter"},
	};
	for (const auto& c : cases) {
		std::string error;
		EXPECT_EQ(Addon::Load(c.path, error), nullptr) << c.path;
		EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
		EXPECT_NE(error.find(c.message), std::string::npos) << error;

		std::string loadError;
		EXPECT_EQ(LoadFilter(c.path, loadError), nullptr) << c.path;
		EXPECT_EQ(loadError, error);
	}
}

// The filter object keeps its add-on loaded after the host drops its own reference.
TEST_F(AddonLoader, ObjectsKeepTheirAddonLoaded)
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

class UnterminatedName : public ImageFilter {
public:
	UnterminatedName() { memset(name, 'x', sizeof(name)); }
	BBitmap* Run(BBitmap*) override { return NULL; }
};

// A display name that fills its whole field without a terminating NUL is read up to the end of
// the field and no further.
TEST(FilterName, StopsAtTheEndOfTheField)
{
	UnterminatedName filter;
	EXPECT_EQ(FilterName(filter), std::string(sizeof(filter.name), 'x'));
}

} // namespace
