// quimbel gallery: every add-on on one image, the results and a page showing them.
#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

std::string ReadText(const std::string& path)
{
	Bytes bytes = ReadBytes(path);
	return std::string(bytes.begin(), bytes.end());
}

typedef CliTest Gallery;

// Every add-on of the build gets its result file, equal to what it makes in this process, and
// the page shows the source and every result with its name and the add-on's 32 x 32 icon.
TEST_F(Gallery, ShowsEveryAddon)
{
	std::string input = SamplePath("logo.png");
	std::string folder = Path("gallery");

	RunResult run = RunQuimbel({"gallery", input, "-o", folder});

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_NE(run.err.find(folder + "/index.html"), std::string::npos) << run.err;
	std::string page = ReadText(folder + "/index.html");
	EXPECT_NE(page.find("src=\"source.png\""), std::string::npos);
	std::unique_ptr<BBitmap> source = ReadBack(input);
	std::unique_ptr<BBitmap> shown = ReadBack(folder + "/source.png");
	ASSERT_TRUE(source != NULL && shown != NULL);
	EXPECT_TRUE(Words(*shown) == Words(*source));

	for (const std::string& file : BuiltAddonFiles()) {
		FilterPtr filter = LoadFilter(file);
		ASSERT_NE(filter, nullptr);
		BitmapPtr expected;
		CaptureStdout([&] { expected.reset(filter->Run(source.get())); });
		if (expected == NULL)
			continue;
		std::string image = "result-" + file + ".png";
		EXPECT_NE(page.find("src=\"" + image + "\""), std::string::npos) << file;
		EXPECT_NE(page.find(std::string(">") + filter->name + "<"), std::string::npos) << file;
		std::string icon = "icon-" + file + ".png";
		EXPECT_NE(page.find("<img class=\"icon\" src=\"" + icon + "\""), std::string::npos) << file;
		std::unique_ptr<BBitmap> iconImage = ReadBack(folder + "/" + icon);
		ASSERT_NE(iconImage, nullptr);
		EXPECT_EQ(iconImage->Bounds(), BRect(0, 0, 31, 31)) << file;
		std::unique_ptr<BBitmap> written = ReadBack(folder + "/" + image);
		ASSERT_NE(written, nullptr);
		EXPECT_TRUE(Words(*written) == Words(*expected)) << file;
	}
}

// A filter without a result is shown as such with what it printed (which still reaches standard
// output); names are escaped for the page; the status says that not every image was made. An
// add-on without resources simply has no icon.
TEST_F(Gallery, ShowsAFilterWithoutResult)
{
	std::string addons =
	    MakeAddonFolder("addons", {BuiltAddonFolder() + "/CopyThrough", FixturePath("NullFilter")});
	std::string folder = Path("gallery");

	RunResult run =
	    RunQuimbel({"--addons", addons, "gallery", SamplePath("chelsea.png"), "-o", folder});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, "NullFilter: nothing to give\n");
	EXPECT_NE(run.err.find("(NullFilter) produced no image"), std::string::npos) << run.err;
	std::string page = ReadText(folder + "/index.html");
	EXPECT_NE(page.find("Nothing &amp; &lt;more&gt;"), std::string::npos);
	EXPECT_EQ(page.find("<more>"), std::string::npos);
	EXPECT_NE(page.find("no image"), std::string::npos);
	EXPECT_NE(page.find("<pre>NullFilter: nothing to give\n</pre>"), std::string::npos);
	EXPECT_EQ(page.find("icon-NullFilter"), std::string::npos);
	// The add-ons of the installed folder come after those of --addons.
	std::vector<std::string> written = Entries(folder);
	for (const char* name :
	     {"icon-CopyThrough.png", "index.html", "result-CopyThrough.png", "source.png"})
		EXPECT_NE(std::find(written.begin(), written.end(), name), written.end()) << name;
	for (const std::string& name : written)
		EXPECT_EQ(name.find("NullFilter"), std::string::npos) << name;
}

// A source that cannot be read stops the gallery before anything is written.
TEST_F(Gallery, BadSourceWritesNothing)
{
	WriteBytes(Path("bad.png"), Bytes(3, 1));

	RunResult run = RunQuimbel({"gallery", Path("bad.png"), "-o", Path("gallery")});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("bad.png") + ": "), std::string::npos) << run.err;
	EXPECT_TRUE(Entries(Path("gallery")).empty());
}

// A gallery written into the source's own folder does not overwrite a source named source.png,
// even when told to overwrite: the gallery is refused as a whole and nothing is written.
TEST_F(Gallery, KeepsASourceNamedLikeItsCopy)
{
	std::filesystem::copy_file(SamplePath("chelsea.png"), Path("source.png"));

	RunResult run = RunQuimbel({"gallery", Path("source.png"), "-o", fFolder, "--overwrite"});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find("the output is the input file"), std::string::npos) << run.err;
	EXPECT_TRUE(ReadBytes(Path("source.png")) == ReadBytes(SamplePath("chelsea.png")));
	EXPECT_EQ(Entries(), std::vector<std::string>({"source.png"}));
}

// A second gallery into the same folder is refused, naming what exists, unless told to
// overwrite; then every file is replaced.
TEST_F(Gallery, ReplacesOnlyWhenTold)
{
	std::string input = SamplePath("foo3x5x4indexed.png");
	ASSERT_EQ(RunQuimbel({"gallery", input, "-o", Path("g")}).status, 0);
	Bytes page = ReadBytes(Path("g/index.html"));

	RunResult again = RunQuimbel({"gallery", SamplePath("chelsea.png"), "-o", Path("g")});
	EXPECT_EQ(again.status, 1);
	EXPECT_NE(again.err.find(Path("g/index.html") + ": exists; not replacing it without "
	                                                "--overwrite (-y)"),
	          std::string::npos)
	    << again.err;
	EXPECT_EQ(ReadBytes(Path("g/index.html")), page);

	RunResult replaced = RunQuimbel({"gallery", SamplePath("chelsea.png"), "-o", Path("g"), "-y"});
	EXPECT_EQ(replaced.status, 0) << replaced.err;
	std::unique_ptr<BBitmap> source = ReadBack(Path("g/source.png"));
	ASSERT_NE(source, nullptr);
	EXPECT_EQ(source->Bounds(), BRect(0, 0, 450, 299));
}

class GalleryModes : public CliTest, public testing::WithParamInterface<mode_t> {};

// The page, the icons and the images of a gallery all get the permissions of a new file under
// the umask, whichever umask that is.
TEST_P(GalleryModes, FollowTheUmask)
{
	mode_t umaskBefore = umask(GetParam());
	RunResult run = RunQuimbel({"gallery", SamplePath("foo3x5x4indexed.png"), "-o", Path("g")});
	umask(umaskBefore);
	ASSERT_EQ(run.status, 0) << run.err;

	std::vector<std::string> files = Entries(Path("g"));
	EXPECT_GT(files.size(), 2 * BuiltAddonFiles().size());
	for (const std::string& file : files) {
		struct stat status;
		ASSERT_EQ(stat(Path("g/" + file).c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, 0666 & ~GetParam()) << file;
	}
}

INSTANTIATE_TEST_SUITE_P(Umasks, GalleryModes, testing::Values(022, 077, 002));

} // namespace
