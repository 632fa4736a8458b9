// Where a batch's outputs go: -o as a folder or as a template of {stem}, {ext}, {dir} and
// {filter}, --format across a batch, and outputs that two inputs would share.
#include <filesystem>

#include "CliSupport.h"

namespace {

// Makes `tree` in the scratch folder: photos/chelsea.png, photos/deep/er/logo.png and the loose
// camera.png.
class OutputNaming : public CliTest {
protected:
	void SetUp() override
	{
		CliTest::SetUp();
		std::filesystem::create_directories(Path("photos/deep/er"));
		std::filesystem::copy_file(SamplePath("chelsea.png"), Path("photos/chelsea.png"));
		std::filesystem::copy_file(SamplePath("logo.png"), Path("photos/deep/er/logo.png"));
		std::filesystem::copy_file(SamplePath("camera.png"), Path("camera.png"));
	}

	// apply `filters` (a chain) with -o `output`, -r, on the folder and the loose file.
	RunResult Apply(const std::vector<std::string>& filters, const std::string& output,
	                const std::vector<std::string>& more = {})
	{
		std::vector<std::string> arguments = {"apply", filters[0]};
		for (size_t i = 1; i < filters.size(); i++)
			arguments.insert(arguments.end(), {"--then", filters[i]});
		arguments.insert(arguments.end(), {"-r", Path("photos"), Path("camera.png"), "-o", output});
		arguments.insert(arguments.end(), more.begin(), more.end());
		return RunQuimbel(arguments);
	}

	// The files below `folder`, relative to it, sorted.
	std::vector<std::string> FilesBelow(const std::string& folder)
	{
		std::vector<std::string> files;
		for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
			if (entry.is_regular_file())
				files.push_back(std::filesystem::relative(entry.path(), folder).string());
		}
		std::sort(files.begin(), files.end());
		return files;
	}
};

struct Template {
	const char* label;
	std::vector<std::string> filters;
	// Relative to the scratch folder.
	std::string output;
	std::vector<std::string> written;
};

const Template kTemplates[] = {
    {"Folder", {"Negative"}, "out", {"camera.png", "chelsea.png", "deep/er/logo.png"}},
    {"StemAndSuffix",
     {"Negative"},
     "out/{dir}/{stem}-neg.{ext}",
     {"camera-neg.png", "chelsea-neg.png", "deep/er/logo-neg.png"}},
    {"FolderInTheName",
     {"Negative"},
     "out/{stem}.{dir}.png",
     {"camera..png", "chelsea..png", "logo.deep/er.png"}},
    {"ChainNames",
     {"Negative", "Rotate CW 90"},
     "out/{filter}/{dir}/{stem}.png",
     {"Negative+Rotate-CW-90/camera.png", "Negative+Rotate-CW-90/chelsea.png",
      "Negative+Rotate-CW-90/deep/er/logo.png"}},
};

class NamingTemplate : public OutputNaming, public ::testing::WithParamInterface<Template> {};

// Each input is written where the template, filled in for it, says; the folders it names are
// made; an empty {dir} takes its '/' along.
TEST_P(NamingTemplate, WritesWhereTheFieldsSay)
{
	RunResult run = Apply(GetParam().filters, Path(GetParam().output));

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(FilesBelow(Path("out")), GetParam().written);
	for (const std::string& file : GetParam().written)
		EXPECT_NE(ReadBack(Path("out/" + file)), nullptr) << file;
}

INSTANTIATE_TEST_SUITE_P(Outputs, NamingTemplate, ::testing::ValuesIn(kTemplates),
                         [](const auto& info) { return std::string(info.param.label); });

// --format writes every output of a batch in that kind, under its extension.
TEST_F(OutputNaming, FormatChangesTheWholeBatch)
{
	RunResult folder = Apply({"Negative"}, Path("out"), {"--format", "webp"});
	RunResult named = Apply({"Negative"}, Path("named/{stem}.{ext}"), {"--format", "TIFF"});

	ASSERT_EQ(folder.status, 0) << folder.err;
	ASSERT_EQ(named.status, 0) << named.err;
	EXPECT_EQ(FilesBelow(Path("out")),
	          std::vector<std::string>({"camera.webp", "chelsea.webp", "deep/er/logo.webp"}));
	EXPECT_EQ(FilesBelow(Path("named")),
	          std::vector<std::string>({"camera.tiff", "chelsea.tiff", "logo.tiff"}));
	Bytes webp = ReadBytes(Path("out/chelsea.webp"));
	ASSERT_GE(webp.size(), 12u);
	EXPECT_EQ(std::string(webp.begin() + 8, webp.begin() + 12), "WEBP");
	Bytes tiff = ReadBytes(Path("named/logo.tiff"));
	ASSERT_GE(tiff.size(), 4u);
	EXPECT_EQ(std::string(tiff.begin(), tiff.begin() + 2), "II");
}

// An input that would be written to the output of an earlier one is refused before anything is
// written, naming both; the earlier one and the rest of the batch are written.
TEST_F(OutputNaming, SharedOutputIsRefused)
{
	std::filesystem::copy_file(SamplePath("logo.png"), Path("photos/deep/camera.png"));

	RunResult flat = Apply({"Negative"}, Path("flat/{stem}.png"));
	RunResult same = Apply({"Negative"}, Path("same/{filter}.png"));

	EXPECT_EQ(flat.status, 1);
	EXPECT_NE(flat.err.find(Path("camera.png") + ": has the same file name as " +
	                        Path("photos/deep/camera.png") + "; both would be written to " +
	                        Path("flat/camera.png")),
	          std::string::npos)
	    << flat.err;
	EXPECT_NE(flat.err.find("3 of 4 files written"), std::string::npos) << flat.err;
	EXPECT_EQ(FilesBelow(Path("flat")),
	          std::vector<std::string>({"camera.png", "chelsea.png", "logo.png"}));
	std::unique_ptr<BBitmap> first = ReadBack(Path("flat/camera.png"));
	std::unique_ptr<BBitmap> logo = ReadBack(SamplePath("logo.png"));
	ASSERT_TRUE(first != NULL && logo != NULL);
	EXPECT_EQ(first->Bounds().IntegerWidth(), logo->Bounds().IntegerWidth())
	    << "the first input's result is the one written";

	EXPECT_EQ(same.status, 1);
	EXPECT_NE(same.err.find(Path("photos/deep/er/logo.png") + ": would be written to " +
	                        Path("same/Negative.png") + ", as " + Path("photos/chelsea.png") +
	                        " is"),
	          std::string::npos)
	    << same.err;
	EXPECT_EQ(FilesBelow(Path("same")), std::vector<std::string>({"Negative.png"}));
}

// A field that is not one of {stem}, {ext}, {dir} and {filter}, or a '{' left open, is a usage
// error, before anything is read or written.
TEST_F(OutputNaming, UnknownFieldIsAUsageError)
{
	for (const char* output : {"out/{name}.png", "out/{stem.png", "out/{}.png"}) {
		RunResult run = Apply({"Negative"}, Path(output));
		EXPECT_EQ(run.status, 2) << output;
		EXPECT_NE(run.err.find("{stem}, {ext}, {dir} and {filter}"), std::string::npos) << run.err;
	}
	RunResult unknown = Apply({"Negative"}, Path("out/{name}.png"));
	EXPECT_NE(unknown.err.find("unknown field {name}"), std::string::npos) << unknown.err;
	EXPECT_FALSE(std::filesystem::exists(Path("out")));
}

} // namespace
