// quimbel gallery: every add-on on one image, the results and a page showing them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include <sys/stat.h>

#include "CliSupport.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

std::string ReadText(const std::string& path)
{
	Bytes bytes = ReadBytes(path);
	return std::string(bytes.begin(), bytes.end());
}

int64 FileSize(const std::string& path)
{
	struct stat status;
	EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
	return status.st_size;
}

// A picture of the page: the file it links to, the file it shows and the size it gives for it.
struct Picture {
	std::string image;
	std::string shown;
	int32 width;
	int32 height;
};

std::vector<Picture> Pictures(const std::string& page)
{
	static const std::regex kPicture("<a class=\"picture\" href=\"([^\"]+)\"><img(?: "
	                                 "class=\"small\")? src=\"([^\"]+)\" width=\"([0-9]+)\" "
	                                 "height=\"([0-9]+)\"");
	std::vector<Picture> pictures;
	for (std::sregex_iterator match(page.begin(), page.end(), kPicture), end; match != end;
	     ++match) {
		pictures.push_back(
		    Picture{(*match)[1], (*match)[2], std::stoi((*match)[3]), std::stoi((*match)[4])});
	}
	return pictures;
}

// The part of the page, one picture or failure with its caption, that holds `text`.
std::string FigureWith(const std::string& page, const std::string& text)
{
	size_t at = page.find(text);
	if (at == std::string::npos)
		return std::string();
	size_t start = page.rfind("<figure", at);
	size_t end = page.find("</figure>", at);
	return page.substr(start, end - start);
}

// A photograph as far as its files go: smooth shades across and down, a gentle ripple and a
// little grain, which neither JPEG nor PNG can shrink to nothing. No two corners look alike, so
// a turned or mirrored copy differs from it.
void WritePhotoLike(const std::string& path, uint32 width, uint32 height)
{
	JpegImage image;
	image.width = width;
	image.height = height;
	image.components = 3;
	image.inputSpace = 2; // JCS_RGB
	image.fileSpace = 3;  // JCS_YCbCr
	image.quality = 90;
	image.samples.resize((size_t)width * height * 3);
	uint32 grain = 12345;
	for (uint32 y = 0; y < height; y++) {
		for (uint32 x = 0; x < width; x++) {
			grain = grain * 1103515245 + 12345;
			int noise = (int)(grain >> 28) - 8;
			double ripple = 40 * std::sin(x / 97.0) * std::cos(y / 61.0);
			uint8* pixel = &image.samples[((size_t)y * width + x) * 3];
			pixel[0] = (uint8)std::clamp((int)(x * 200 / width) + 20 + noise, 0, 255);
			pixel[1] = (uint8)std::clamp((int)(y * 200 / height) + 20 + noise, 0, 255);
			pixel[2] = (uint8)std::clamp((int)(128 + ripple) + noise, 0, 255);
		}
	}
	WriteJpegFile(path, image);
}

// Whether `preview` looks like `full` scaled down: the preview's pixels at a grid of points
// against the full image's pixels at the same place, within what JPEG loses and the grain adds.
bool LooksLike(const BBitmap& preview, const BBitmap& full)
{
	int32 previewWidth = preview.Bounds().IntegerWidth() + 1;
	int32 previewHeight = preview.Bounds().IntegerHeight() + 1;
	int32 width = full.Bounds().IntegerWidth() + 1;
	int32 height = full.Bounds().IntegerHeight() + 1;
	for (int32 row = 1; row < 8; row++) {
		for (int32 column = 1; column < 8; column++) {
			int32 x = previewWidth * column / 8;
			int32 y = previewHeight * row / 8;
			uint32 shown = WordAt(preview, x, y);
			uint32 original = WordAt(full, (int32)((x + 0.5) * width / previewWidth),
			                         (int32)((y + 0.5) * height / previewHeight));
			for (int shift = 0; shift < 24; shift += 8) {
				if (std::abs((int)(shown >> shift & 0xFF) - (int)(original >> shift & 0xFF)) > 24)
					return false;
			}
		}
	}
	return true;
}

typedef CliTest Gallery;

// Every add-on of the build gets its result file, equal to what it makes in this process, and
// the page shows the source and every result with its name and the add-on's 32 x 32 icon. The
// results have alpha: their previews are WebP files, which keep it.
TEST_F(Gallery, ShowsEveryAddon)
{
	std::string input = SamplePath("logo.png");
	std::string folder = Path("gallery");

	RunResult run = RunQuimbel({"gallery", input, "-o", folder});

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_NE(run.err.find(folder + "/index.html"), std::string::npos) << run.err;
	std::string page = ReadText(folder + "/index.html");
	EXPECT_NE(page.find("href=\"source.png\""), std::string::npos);
	std::unique_ptr<BBitmap> source = ReadBack(input);
	std::unique_ptr<BBitmap> shown = ReadBack(folder + "/source.png");
	ASSERT_TRUE(source != NULL && shown != NULL);
	EXPECT_TRUE(Words(*shown) == Words(*source));
	std::vector<Picture> pictures = Pictures(page);
	ASSERT_FALSE(pictures.empty());
	EXPECT_EQ(pictures[0].image, "source.png");
	EXPECT_NE(pictures[0].shown, "source.png");
	for (const Picture& picture : pictures) {
		if (picture.shown == picture.image)
			continue;
		Bytes preview = ReadBytes(folder + "/" + picture.shown);
		EXPECT_TRUE(preview.size() > 12 &&
		            std::string(preview.begin(), preview.begin() + 4) == "RIFF" &&
		            std::string(preview.begin() + 8, preview.begin() + 12) == "WEBP")
		    << picture.shown;
	}

	for (const std::string& file : BuiltAddonFiles()) {
		FilterPtr filter = LoadFilter(file);
		ASSERT_NE(filter, nullptr);
		BitmapPtr expected;
		CaptureStdout([&] { expected.reset(filter->Run(source.get())); });
		if (expected == NULL)
			continue;
		std::string image = "result-" + file + ".png";
		EXPECT_EQ(
		    std::count_if(pictures.begin(), pictures.end(),
		                  [&image](const Picture& picture) { return picture.image == image; }),
		    1)
		    << file;
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

// A large photograph and its results are each shown as a preview no larger than 1024 pixels a
// side, in proportion, looking like the full image it links to; the previews are JPEG files
// that keep what the page loads small, while the full images stay PNG at full size.
TEST_F(Gallery, ShowsLargeImagesAsPreviews)
{
	WritePhotoLike(Path("photo.jpg"), 3000, 2000);
	std::string folder = Path("gallery");

	RunResult run = RunQuimbel({"gallery", Path("photo.jpg"), "-o", folder});

	ASSERT_EQ(run.status, 0) << run.err;
	std::string page = ReadText(folder + "/index.html");
	std::vector<Picture> pictures = Pictures(page);
	ASSERT_EQ(pictures.size(), BuiltAddonFiles().size() + 1);
	int64 loaded = FileSize(folder + "/index.html");
	int64 fullImages = 0;
	for (const Picture& picture : pictures) {
		SCOPED_TRACE(picture.image);
		EXPECT_NE(picture.shown, picture.image);
		std::unique_ptr<BBitmap> full = ReadBack(folder + "/" + picture.image);
		std::unique_ptr<BBitmap> preview = ReadBack(folder + "/" + picture.shown);
		ASSERT_TRUE(full != NULL && preview != NULL);
		Bytes previewFile = ReadBytes(folder + "/" + picture.shown);
		EXPECT_TRUE(previewFile.size() > 2 && previewFile[0] == 0xFF && previewFile[1] == 0xD8);
		int32 width = full->Bounds().IntegerWidth() + 1;
		int32 height = full->Bounds().IntegerHeight() + 1;
		EXPECT_GE(std::max(width, height), 1500);
		int32 previewWidth = preview->Bounds().IntegerWidth() + 1;
		int32 previewHeight = preview->Bounds().IntegerHeight() + 1;
		EXPECT_EQ(std::max(previewWidth, previewHeight), 1024);
		EXPECT_LE(std::abs((int64)previewWidth * height - (int64)previewHeight * width),
		          std::max(width, height));
		EXPECT_EQ(picture.width, previewWidth);
		EXPECT_EQ(picture.height, previewHeight);
		EXPECT_TRUE(LooksLike(*preview, *full));
		loaded += previewFile.size();
		fullImages += FileSize(folder + "/" + picture.image);
	}
	std::unique_ptr<BBitmap> source = ReadBack(Path("photo.jpg"));
	ASSERT_NE(source, nullptr);
	EXPECT_TRUE(Words(*ReadBack(folder + "/source.png")) == Words(*source));
	// A tenth of a megabyte or so for each picture, against megabytes for each full image.
	EXPECT_LT(loaded, 2 * 1024 * 1024);
	int64 total = 0;
	for (const std::string& name : Entries(folder))
		total += FileSize(folder + "/" + name);
	EXPECT_LT(total, fullImages + 2 * 1024 * 1024);
}

// A picture that is small already is shown as it is, its pixels kept sharp: no preview is made.
TEST_F(Gallery, ShowsSmallImagesAsTheyAre)
{
	std::string folder = Path("gallery");

	RunResult run = RunQuimbel({"gallery", SamplePath("foo3x5x4indexed.png"), "-o", folder});

	ASSERT_EQ(run.status, 0) << run.err;
	std::vector<Picture> pictures = Pictures(ReadText(folder + "/index.html"));
	ASSERT_EQ(pictures.size(), BuiltAddonFiles().size() + 1);
	for (const Picture& picture : pictures)
		EXPECT_EQ(picture.shown, picture.image);
	for (const std::string& name : Entries(folder))
		EXPECT_EQ(name.find("preview"), std::string::npos) << name;
}

class GalleryRuns : public CliTest, public testing::WithParamInterface<bool> {};

// In a worker as in this process, what a filter printed is shown with its result, escaped, and
// reaches standard output, once although the filter ran several times; its time is the median
// of five runs of the filter itself, which sleeps 20 ms in each.
TEST_P(GalleryRuns, ShowWhatTheFilterPrintedAndHowLongItTook)
{
	std::string addons = MakeAddonFolder("addons", {FixturePath("Chatty")});
	std::vector<std::string> arguments = {
	    "--addons", addons, "gallery", SamplePath("chelsea.png"), "-o", Path("gallery")};
	if (GetParam())
		arguments.insert(arguments.begin(), "--in-process");

	RunResult run = RunQuimbel(arguments);

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(run.out, "run 1: <b>bold</b> & \"quoted\"\n");
	std::string page = ReadText(Path("gallery/index.html"));
	EXPECT_EQ(page.find("<b>"), std::string::npos);
	std::string figure = FigureWith(page, "Chatty &lt;talk&gt;</div>");
	EXPECT_NE(figure.find("href=\"result-Chatty.png\""), std::string::npos) << figure;
	EXPECT_NE(figure.find("<pre>run 1: &lt;b&gt;bold&lt;/b&gt; &amp; &quot;quoted&quot;\n</pre>"),
	          std::string::npos)
	    << figure;
	std::smatch time;
	ASSERT_TRUE(
	    std::regex_search(figure, time, std::regex("filter: ([0-9.]+) (ms|s), median of 5 runs")))
	    << figure;
	double seconds = std::stod(time[1]) / (time[2] == "ms" ? 1000 : 1);
	EXPECT_GE(seconds, 0.020);
	// Every built add-on is timed the same way.
	for (const std::string& file : BuiltAddonFiles()) {
		figure = FigureWith(page, "href=\"result-" + file + ".png\"");
		EXPECT_NE(figure.find("median of 5 runs"), std::string::npos) << file;
	}
}

INSTANTIATE_TEST_SUITE_P(WorkerAndInProcess, GalleryRuns, testing::Bool());

// The page fits a phone's screen and follows a dark colour scheme.
TEST_F(Gallery, SuitsSmallAndDarkScreens)
{
	RunResult run = RunQuimbel({"gallery", SamplePath("foo3x5x4indexed.png"), "-o", Path("g")});

	ASSERT_EQ(run.status, 0) << run.err;
	std::string page = ReadText(Path("g/index.html"));
	EXPECT_NE(page.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
	          std::string::npos);
	EXPECT_NE(page.find("@media (prefers-color-scheme: dark)"), std::string::npos);
	EXPECT_NE(page.find("<meta name=\"color-scheme\" content=\"light dark\">"), std::string::npos);
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
