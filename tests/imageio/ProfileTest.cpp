// Colour profiles go from the file read to the files written, byte for byte, in PNG and JPEG;
// the pixels are never converted.
#include <random>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

class Profile : public ScratchTest {
protected:
	// Writes `bitmap` with `profile` as `name`, reads it back and returns the profile read.
	std::vector<uint8> RoundTrip(const BBitmap& bitmap, const std::vector<uint8>& profile,
	                             const std::string& name)
	{
		ImageMetadata written;
		written.iccProfile = profile;
		std::string error;
		EXPECT_TRUE(WriteImage(bitmap, Path(name), WriteOptions(), error, &written)) << error;
		ImageMetadata read;
		EXPECT_NE(ReadImage(Path(name), ImageLimits(), error, &read), nullptr) << error;
		return read.iccProfile;
	}
};

// The sample photograph's profile, and a large one that JPEG must split over many segments,
// come back unchanged from PNG and JPEG files.
TEST_F(Profile, RoundTripsByteForByte)
{
	ImageMetadata sample;
	std::string error;
	std::unique_ptr<BBitmap> photo =
	    ReadImage(SamplePath("chelsea.png"), ImageLimits(), error, &sample);
	ASSERT_NE(photo, nullptr) << error;
	ASSERT_GT(sample.iccProfile.size(), 100u);

	std::vector<uint8> large(300 * 1000);
	std::mt19937 random(5);
	for (uint8& byte : large)
		byte = (uint8)random();

	EXPECT_EQ(RoundTrip(*photo, sample.iccProfile, "sample.png"), sample.iccProfile);
	EXPECT_EQ(RoundTrip(*photo, sample.iccProfile, "sample.jpg"), sample.iccProfile);
	EXPECT_EQ(RoundTrip(*photo, large, "large.png"), large);
	EXPECT_EQ(RoundTrip(*photo, large, "large.jpg"), large);
	EXPECT_TRUE(RoundTrip(*photo, {}, "plain.png").empty());
	EXPECT_TRUE(RoundTrip(*photo, {}, "plain.jpg").empty());
}

// A damaged profile is left out; the pixels are read as ever.
TEST_F(Profile, DamagedProfileIsLeftOut)
{
	Bytes bytes = ReadBytes(SamplePath("chelsea.png"));
	// The iCCP chunk's deflated data follow its name, its NUL and the method byte.
	for (size_t i = 8; i + 8 < bytes.size(); i++) {
		if (memcmp(&bytes[i], "iCCP", 4) != 0)
			continue;
		size_t name = i + 4;
		while (bytes[name] != 0)
			name++;
		for (size_t j = name + 2; j < name + 40; j++)
			bytes[j] ^= 0x5a;
		break;
	}
	// The chunk's CRC no longer fits, which libpng passes over for ancillary chunks.
	WriteBytes(Path("damaged.png"), bytes);

	ImageMetadata read;
	std::string error;
	std::unique_ptr<BBitmap> image = ReadImage(Path("damaged.png"), ImageLimits(), error, &read);
	ASSERT_NE(image, nullptr) << error;
	EXPECT_TRUE(read.iccProfile.empty());
	std::unique_ptr<BBitmap> sound = ReadImage(SamplePath("chelsea.png"), ImageLimits(), error);
	ASSERT_NE(sound, nullptr) << error;
	EXPECT_EQ(Words(*image), Words(*sound));
}

} // namespace
