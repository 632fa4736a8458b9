// quimbel apply on the sample images, with every add-on of the build, checked against the same
// add-on run in this process on the same decoded image.
#include <filesystem>
#include <tuple>

#include "CliSupport.h"
#include "ImageFile.h"
#include "TestSupport.h"

namespace {

const std::vector<std::string> kSamples = {
    "astronaut.png", "chelsea.png", "camera.png", "logo.png", "foo3x5x4indexed.png", "rocket.jpg",
};

// What the add-on makes of the image in `input` when this process runs it, and what it prints.
struct Expected {
	BitmapPtr result;
	std::string printed;
};

Expected RunInProcess(const std::string& addonFile, const std::string& input)
{
	Expected expected;
	FilterPtr filter = LoadFilter(addonFile);
	std::unique_ptr<BBitmap> source = ReadBack(input);
	if (filter == NULL || source == NULL)
		return expected;
	expected.printed = CaptureStdout([&] { expected.result.reset(filter->Run(source.get())); });
	return expected;
}

class ApplyEveryAddon : public CliTest,
                        public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {
};

// The written PNG holds exactly the pixels the add-on makes, in the colour space it made them;
// its diagnostic lines reach standard output untouched and the host says nothing on success.
TEST_P(ApplyEveryAddon, WritesWhatTheFilterMade)
{
	auto [addonFile, sample] = GetParam();
	std::string output = Path("out.png");
	Expected expected = RunInProcess(addonFile, SamplePath(sample));

	RunResult run = RunQuimbel({"apply", addonFile, SamplePath(sample), output});

	EXPECT_EQ(run.out, expected.printed);
	if (expected.result == NULL) {
		EXPECT_EQ(run.status, 1);
		EXPECT_NE(run.err.find("produced no image"), std::string::npos) << run.err;
		EXPECT_FALSE(std::filesystem::exists(output));
		return;
	}
	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(run.err, "");
	std::unique_ptr<BBitmap> written = ReadBack(output);
	ASSERT_NE(written, nullptr);
	EXPECT_EQ(written->ColorSpace(), expected.result->ColorSpace());
	EXPECT_EQ(written->Bounds().IntegerWidth(), expected.result->Bounds().IntegerWidth());
	EXPECT_EQ(written->Bounds().IntegerHeight(), expected.result->Bounds().IntegerHeight());
	EXPECT_TRUE(Words(*written) == Words(*expected.result));
}

INSTANTIATE_TEST_SUITE_P(Samples, ApplyEveryAddon,
                         ::testing::Combine(::testing::ValuesIn(BuiltAddonFiles()),
                                            ::testing::ValuesIn(kSamples)),
                         [](const auto& info) {
	                         std::string name =
	                             std::get<0>(info.param) + "_" + std::get<1>(info.param);
	                         std::replace_if(
	                             name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
	                         return name;
                         });

typedef CliTest ApplyJpegOutput;

// A .jpg output is a JPEG of the filter's result: same size, pixels close to the lossless result.
TEST_F(ApplyJpegOutput, EncodesByExtension)
{
	RunResult lossless = RunQuimbel({"apply", "My", SamplePath("rocket.jpg"), Path("out.png")});
	RunResult lossy =
	    RunQuimbel({"--quality", "95", "apply", "My", SamplePath("rocket.jpg"), Path("out.jpg")});
	ASSERT_EQ(lossless.status, 0) << lossless.err;
	ASSERT_EQ(lossy.status, 0) << lossy.err;

	Bytes file = ReadBytes(Path("out.jpg"));
	ASSERT_GE(file.size(), 2u);
	EXPECT_EQ(file[0], 0xFF);
	EXPECT_EQ(file[1], 0xD8);
	std::unique_ptr<BBitmap> exact = ReadBack(Path("out.png"));
	std::unique_ptr<BBitmap> close = ReadBack(Path("out.jpg"));
	ASSERT_TRUE(exact != NULL && close != NULL);
	std::vector<uint32> a = Words(*exact);
	std::vector<uint32> b = Words(*close);
	ASSERT_EQ(a.size(), b.size());
	double difference = 0;
	for (size_t i = 0; i < a.size(); i++) {
		for (int shift = 0; shift < 24; shift += 8)
			difference += abs((int)(a[i] >> shift & 0xff) - (int)(b[i] >> shift & 0xff));
	}
	EXPECT_LT(difference / (a.size() * 3), 3.0);
}

typedef CliTest ApplyBatch;

// A batch writes each good input under its own name, reports each bad one naming it, goes on
// past it and ends with a summary and status 1.
TEST_F(ApplyBatch, GoesOnPastABadFile)
{
	WriteBytes(Path("broken.png"), Bytes(100, 7));
	std::string outputs = Path("outputs");

	RunResult run =
	    RunQuimbel({"apply", "My", SamplePath("chelsea.png"), Path("broken.png"),
	                SamplePath("rocket.jpg"), SamplePath("logo.png"), "-o", outputs, "-j", "2"});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("broken.png") + ": not an image file of a kind this program reads"),
	          std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("3 of 4 files written"), std::string::npos) << run.err;
	EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
	EXPECT_EQ(Entries(outputs),
	          std::vector<std::string>({"chelsea.png", "logo.png", "rocket.jpg"}));
	for (const char* name : {"chelsea.png", "logo.png", "rocket.jpg"}) {
		std::unique_ptr<BBitmap> source = ReadBack(SamplePath(name));
		std::unique_ptr<BBitmap> written = ReadBack(outputs + "/" + name);
		ASSERT_TRUE(source != NULL && written != NULL);
		if (std::string(name) != "rocket.jpg") {
			EXPECT_TRUE(Words(*written) == Words(*source)) << name;
		}
	}
}

// Two inputs with the same file name would share one output: the second is refused, the first
// written.
TEST_F(ApplyBatch, RefusesTwoInputsWithOneName)
{
	std::filesystem::create_directories(Path("other"));
	std::filesystem::copy_file(SamplePath("camera.png"), Path("other/chelsea.png"));

	RunResult run = RunQuimbel({"apply", "My", SamplePath("chelsea.png"), Path("other/chelsea.png"),
	                            "-o", Path("outputs")});

	EXPECT_EQ(run.status, 1);
	EXPECT_NE(run.err.find(Path("other/chelsea.png") + ": has the same file name as"),
	          std::string::npos)
	    << run.err;
	std::unique_ptr<BBitmap> source = ReadBack(SamplePath("chelsea.png"));
	std::unique_ptr<BBitmap> written = ReadBack(Path("outputs/chelsea.png"));
	ASSERT_TRUE(source != NULL && written != NULL);
	EXPECT_TRUE(Words(*written) == Words(*source));
}

// On a terminal the batch draws a progress bar on standard error and clears it at the end.
TEST_F(ApplyBatch, DrawsProgressOnATerminal)
{
	std::string text =
	    RunQuimbelOnTerminal({"apply", "My", SamplePath("chelsea.png"), SamplePath("logo.png"),
	                          "-o", Path("outputs"), "-j", "1"});

	EXPECT_NE(text.find("] 2/2"), std::string::npos) << text;
	EXPECT_NE(text.find("\r\033[K"), std::string::npos) << text;
	EXPECT_NE(text.find("2 of 2 files written"), std::string::npos) << text;
}

// A photograph's colour profile goes on to the output, in PNG and JPEG, unless --strip.
TEST_F(CliTest, KeepsTheColourProfile)
{
	ImageMetadata sample;
	std::string error;
	ASSERT_NE(ReadImage(SamplePath("chelsea.png"), ImageLimits(), error, &sample), nullptr);
	ASSERT_FALSE(sample.iccProfile.empty());

	for (const char* name : {"kept.png", "kept.jpg"}) {
		RunResult run = RunQuimbel({"apply", "Negative", SamplePath("chelsea.png"), Path(name)});
		ASSERT_EQ(run.status, 0) << run.err;
		ImageMetadata kept;
		ASSERT_NE(ReadImage(Path(name), ImageLimits(), error, &kept), nullptr) << error;
		EXPECT_EQ(kept.iccProfile, sample.iccProfile) << name;
	}
	RunResult stripped =
	    RunQuimbel({"apply", "Negative", SamplePath("chelsea.png"), Path("bare.jpg"), "--strip"});
	ASSERT_EQ(stripped.status, 0) << stripped.err;
	ImageMetadata bare;
	ASSERT_NE(ReadImage(Path("bare.jpg"), ImageLimits(), error, &bare), nullptr) << error;
	EXPECT_TRUE(bare.iccProfile.empty());
}

} // namespace
