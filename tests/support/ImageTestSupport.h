// Helpers of the image-file tests: PNG and JPEG files made with libpng and libjpeg directly, so
// that the tests do not rest on the codecs they check.
#ifndef IMAGE_TEST_SUPPORT_H
#define IMAGE_TEST_SUPPORT_H

#include <string>
#include <utility>
#include <vector>

#include <SupportDefs.h>

#include "Scratch.h"

// A PNG image at its native bit depth: `rows` holds the packed samples of each row as the PNG
// stores them (big-endian 16-bit samples, sub-byte samples from the high bits).
struct PngImage {
	uint32 width = 0;
	uint32 height = 0;
	int colorType = 0;
	int bitDepth = 8;
	bool interlaced = false;
	std::vector<Bytes> rows;
	// RGB triples, for palette images.
	Bytes palette;
	// Alpha of the first palette entries, or the one transparent grey or RGB value as 16-bit
	// samples.
	Bytes paletteAlpha;
	std::vector<uint16> transparentColor;
	// Keyword and Latin-1 text of zTXt chunks, written before the image data.
	std::vector<std::pair<std::string, std::string>> texts;
};

// Writes `image` with libpng; the test fails when libpng refuses it.
void WritePngFile(const std::string& path, const PngImage& image);
Bytes EncodePng(const PngImage& image);

// A JPEG image as libjpeg takes it: `components` samples a pixel in `inputSpace`
// (a J_COLOR_SPACE), stored as `fileSpace`.
struct JpegImage {
	uint32 width = 0;
	uint32 height = 0;
	int components = 3;
	int inputSpace = 0;
	int fileSpace = 0;
	bool progressive = false;
	// When not 0, a progressive file of this many scans: the DC coefficients, then each AC
	// coefficient of each component on its own, every one sent a bit at a time.
	int scans = 0;
	// The payload of an APP1 segment to write after the frame's start, such as EXIF data.
	Bytes app1;
	bool adobeMarker = true;
	int quality = 100;
	Bytes samples;
};

void WriteJpegFile(const std::string& path, const JpegImage& image);
Bytes EncodeJpeg(const JpegImage& image);

#endif // IMAGE_TEST_SUPPORT_H
