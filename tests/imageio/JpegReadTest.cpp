// ReadImage on colour, grey and four-channel JPEG files made here with libjpeg.
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

// Four flat 16 x 16 quadrants, each one whole colour block whatever the subsampling, so that the
// decoded centres are close to the colours given; JPEG is lossy, so they are compared with a
// tolerance.
const uint32 kQuadrant = 16;
const int kTolerance = 6;

struct JpegKind {
	const char* name;
	int components;
	J_COLOR_SPACE inputSpace;
	J_COLOR_SPACE fileSpace;
	bool progressive;
	bool adobeMarker;
	// The samples of the four quadrants, as stored in the file.
	uint8 quadrants[4][4];
	// What each quadrant must read as: red, green, blue.
	uint8 expected[4][3];
};

void PrintTo(const JpegKind& kind, std::ostream* out)
{
	*out << kind.name;
}

// Adobe's CMYK files store 255 - ink; plain CMYK files store the ink itself.
const JpegKind kJpegKinds[] = {
    {"baseline",
     3,
     JCS_RGB,
     JCS_YCbCr,
     false,
     false,
     {{200, 30, 40}, {20, 180, 60}, {30, 40, 220}, {128, 128, 128}},
     {{200, 30, 40}, {20, 180, 60}, {30, 40, 220}, {128, 128, 128}}},
    {"progressive",
     3,
     JCS_RGB,
     JCS_YCbCr,
     true,
     false,
     {{200, 30, 40}, {20, 180, 60}, {30, 40, 220}, {128, 128, 128}},
     {{200, 30, 40}, {20, 180, 60}, {30, 40, 220}, {128, 128, 128}}},
    {"rgb_stored",
     3,
     JCS_RGB,
     JCS_RGB,
     false,
     false,
     {{250, 5, 5}, {5, 250, 5}, {5, 5, 250}, {0, 0, 0}},
     {{250, 5, 5}, {5, 250, 5}, {5, 5, 250}, {0, 0, 0}}},
    {"grey",
     1,
     JCS_GRAYSCALE,
     JCS_GRAYSCALE,
     false,
     false,
     {{10}, {90}, {170}, {250}},
     {{10, 10, 10}, {90, 90, 90}, {170, 170, 170}, {250, 250, 250}}},
    {"grey_progressive",
     1,
     JCS_GRAYSCALE,
     JCS_GRAYSCALE,
     true,
     false,
     {{10}, {90}, {170}, {250}},
     {{10, 10, 10}, {90, 90, 90}, {170, 170, 170}, {250, 250, 250}}},
    {"cmyk_adobe",
     4,
     JCS_CMYK,
     JCS_CMYK,
     false,
     true,
     {{255, 0, 0, 255}, {0, 255, 0, 255}, {255, 255, 255, 127}, {255, 127, 0, 204}},
     {{255, 0, 0}, {0, 255, 0}, {127, 127, 127}, {204, 102, 0}}},
    {"cmyk_plain",
     4,
     JCS_CMYK,
     JCS_CMYK,
     false,
     false,
     {{0, 255, 255, 0}, {255, 0, 255, 0}, {0, 0, 0, 128}, {0, 128, 255, 51}},
     {{255, 0, 0}, {0, 255, 0}, {127, 127, 127}, {204, 102, 0}}},
    {"ycck_adobe",
     4,
     JCS_CMYK,
     JCS_YCCK,
     false,
     true,
     {{255, 0, 0, 255}, {0, 255, 0, 255}, {255, 255, 255, 127}, {255, 127, 0, 204}},
     {{255, 0, 0}, {0, 255, 0}, {127, 127, 127}, {204, 102, 0}}},
    {"ycck_progressive",
     4,
     JCS_CMYK,
     JCS_YCCK,
     true,
     true,
     {{255, 0, 0, 255}, {0, 255, 0, 255}, {255, 255, 255, 127}, {255, 127, 0, 204}},
     {{255, 0, 0}, {0, 255, 0}, {127, 127, 127}, {204, 102, 0}}},
};

JpegImage MakeImage(const JpegKind& kind)
{
	JpegImage image;
	image.width = kQuadrant * 2;
	image.height = kQuadrant * 2;
	image.components = kind.components;
	image.inputSpace = kind.inputSpace;
	image.fileSpace = kind.fileSpace;
	image.progressive = kind.progressive;
	image.adobeMarker = kind.adobeMarker;
	for (uint32 y = 0; y < image.height; y++) {
		for (uint32 x = 0; x < image.width; x++) {
			const uint8* samples = kind.quadrants[(y / kQuadrant) * 2 + x / kQuadrant];
			image.samples.insert(image.samples.end(), samples, samples + kind.components);
		}
	}
	return image;
}

class JpegKindTest : public ScratchTest, public ::testing::WithParamInterface<JpegKind> {};

// Colour, grey and CMYK JPEGs read as B_RGB32 with the right colours and 255 in the fourth
// byte; Adobe-marked CMYK counts as inverted, unmarked CMYK as plain.
TEST_P(JpegKindTest, ReadsTheColours)
{
	const JpegKind& kind = GetParam();
	WriteJpegFile(Path("kind.jpg"), MakeImage(kind));

	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadImage(Path("kind.jpg"), ImageLimits(), error);
	ASSERT_NE(bitmap, nullptr) << error;
	EXPECT_EQ(bitmap->ColorSpace(), B_RGB32);
	EXPECT_EQ(bitmap->Bounds(), BRect(0, 0, kQuadrant * 2 - 1, kQuadrant * 2 - 1));
	for (int quadrant = 0; quadrant < 4; quadrant++) {
		int32 x = (quadrant % 2) * kQuadrant + kQuadrant / 2;
		int32 y = (quadrant / 2) * kQuadrant + kQuadrant / 2;
		uint32 word = WordAt(*bitmap, x, y);
		const uint8* expected = kind.expected[quadrant];
		EXPECT_NEAR((word >> 16) & 0xff, expected[0], kTolerance) << "red of quadrant " << quadrant;
		EXPECT_NEAR((word >> 8) & 0xff, expected[1], kTolerance)
		    << "green of quadrant " << quadrant;
		EXPECT_NEAR(word & 0xff, expected[2], kTolerance) << "blue of quadrant " << quadrant;
		EXPECT_EQ(word >> 24, 255u) << "fourth byte of quadrant " << quadrant;
	}
}

INSTANTIATE_TEST_SUITE_P(AllKinds, JpegKindTest, ::testing::ValuesIn(kJpegKinds),
                         [](const ::testing::TestParamInfo<JpegKind>& info) {
	                         return std::string(info.param.name);
                         });

class JpegScans : public ScratchTest {};

// A progressive file of 64 scans is read; one of 65 is refused before its scans are all read,
// since each takes a pass over the whole image.
TEST_F(JpegScans, AreLimited)
{
	JpegImage image;
	image.width = 64;
	image.height = 48;
	image.components = 1;
	image.inputSpace = JCS_GRAYSCALE;
	image.fileSpace = JCS_GRAYSCALE;
	image.samples.assign(64 * 48, 90);
	image.scans = 64;
	WriteJpegFile(Path("64.jpg"), image);
	image.scans = 65;
	WriteJpegFile(Path("65.jpg"), image);

	std::string error;
	EXPECT_NE(ReadImage(Path("64.jpg"), ImageLimits(), error), nullptr) << error;
	EXPECT_EQ(ReadImage(Path("65.jpg"), ImageLimits(), error), nullptr);
	EXPECT_EQ(error, Path("65.jpg") + ": damaged JPEG data (more than 64 progressive scans)");
}

} // namespace
