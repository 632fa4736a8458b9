// Images through pipes: standard input as "-" or any path that is no regular file, standard
// output as "-", and nothing else on standard output meanwhile.
#include <algorithm>

#include "CliSupport.h"
#include "ImageFile.h"

namespace {

class Streams : public CliTest {
protected:
	// The sample's bytes given on standard input.
	RunSetup Piped(const std::string& sample)
	{
		Bytes bytes = ReadBytes(SamplePath(sample));
		RunSetup setup;
		setup.hasInput = true;
		setup.input.assign(bytes.begin(), bytes.end());
		return setup;
	}

	// The image that quimbel wrote on standard output, read back from a file.
	std::unique_ptr<BBitmap> Decoded(const std::string& out)
	{
		WriteBytes(Path("decoded"), Bytes(out.begin(), out.end()));
		return ReadBack(Path("decoded"));
	}
};

// "-" reads standard input and writes standard output, PNG when no format is named; the image is
// the same as from files.
TEST_F(Streams, DashIsStandardInputAndOutput)
{
	RunResult fromFiles =
	    RunQuimbel({"apply", "Rotate CW 90", SamplePath("chelsea.png"), Path("turned.png")});
	ASSERT_EQ(fromFiles.status, 0) << fromFiles.err;

	RunResult piped = RunQuimbelWith({"apply", "Rotate CW 90", "-", "-"}, Piped("chelsea.png"));

	ASSERT_EQ(piped.status, 0) << piped.err;
	EXPECT_EQ(piped.err, "");
	ASSERT_GT(piped.out.size(), 8u);
	EXPECT_EQ(piped.out.substr(1, 3), "PNG");
	std::unique_ptr<BBitmap> expected = ReadBack(Path("turned.png"));
	std::unique_ptr<BBitmap> got = Decoded(piped.out);
	ASSERT_TRUE(expected != NULL && got != NULL);
	EXPECT_TRUE(Words(*got) == Words(*expected));
}

// A path that is a pipe is read as it comes, without seeking back after the first bytes.
TEST_F(Streams, PipePathIsRead)
{
	RunResult run =
	    RunQuimbelWith({"apply", "My", "/dev/stdin", Path("copy.jpg")}, Piped("rocket.jpg"));

	ASSERT_EQ(run.status, 0) << run.err;
	std::unique_ptr<BBitmap> copy = ReadBack(Path("copy.jpg"));
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(copy->Bounds(), BRect(0, 0, 639, 426));
}

// With the image on standard output, an add-on's printed lines go to standard error, and
// --format picks the kind written.
TEST_F(Streams, StandardOutputHoldsOnlyTheImage)
{
	BBitmap black(BRect(0, 0, 7, 2), B_RGB32);
	std::string error;
	ASSERT_TRUE(WriteImage(black, Path("black.png"), WriteOptions(), error)) << error;

	RunResult run =
	    RunQuimbel({"apply", "Brighten", Path("black.png"), "-o", "-", "--format", "jpeg"});

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(run.err, "Hmm\nHmm\nHmm\n");
	ASSERT_GT(run.out.size(), 3u);
	EXPECT_EQ((uint8)run.out[0], 0xff);
	EXPECT_EQ((uint8)run.out[1], 0xd8);
	EXPECT_EQ(run.out.find("Hmm"), std::string::npos);
	EXPECT_NE(Decoded(run.out), nullptr);
}

// Standard output takes one image: -o - with several inputs is a usage error, as is an unknown
// format; standard input does not join a batch.
TEST_F(Streams, Misuse)
{
	RunResult two =
	    RunQuimbel({"apply", "My", SamplePath("chelsea.png"), SamplePath("camera.png"), "-o", "-"});
	EXPECT_EQ(two.status, 2);
	EXPECT_EQ(two.out, "");

	RunResult format =
	    RunQuimbel({"apply", "My", SamplePath("chelsea.png"), "-", "--format", "gif"});
	EXPECT_EQ(format.status, 2);
	EXPECT_NE(format.err.find("cannot write format \"gif\""), std::string::npos) << format.err;

	RunResult batch = RunQuimbelWith(
	    {"apply", "My", "-", SamplePath("camera.png"), "-o", Path("out")}, Piped("chelsea.png"));
	EXPECT_EQ(batch.status, 1);
	EXPECT_NE(batch.err.find("standard input is read alone"), std::string::npos) << batch.err;
	EXPECT_EQ(Entries(Path("out")), std::vector<std::string>({"camera.png"}));
}

} // namespace
