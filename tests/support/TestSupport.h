// Helpers shared by the tests: loading the built add-ons the way the host does, making and
// comparing bitmaps, and reading what code prints on standard output.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <Bitmap.h>

#include "AddonLoader.h"

// The folder the build puts the add-ons in, and the add-on files there, sorted by file name.
std::string BuiltAddonFolder();
std::vector<std::string> BuiltAddonFiles();
std::string AddonPath(const std::string& deliverable);
// The add-ons made to misbehave, built for the tests only.
std::string FixturePath(const std::string& name);
// A file of the repository's samples folder.
std::string SamplePath(const std::string& name);

// Loads an add-on of this build and makes one filter object; the test fails if it cannot.
FilterPtr LoadFilter(const std::string& deliverable);

typedef std::unique_ptr<BBitmap> BitmapPtr;

BitmapPtr MakeBitmap(BRect bounds, color_space space);
BitmapPtr MakeBitmap(int32 width, int32 height, color_space space = B_RGBA32);

// Fills every pixel word with a seeded pseudo-random value. Colour channels stay within
// [low, high]; alpha takes any value.
void FillRandom(BBitmap* bitmap, uint32 seed, uint8 low = 0, uint8 high = 255);

uint32 WordAt(const BBitmap& bitmap, int32 x, int32 y);
void SetWordAt(BBitmap& bitmap, int32 x, int32 y, uint32 word);

inline uint32 Word(uint8 red, uint8 green, uint8 blue, uint8 alpha)
{
	return (uint32)alpha << 24 | (uint32)red << 16 | (uint32)green << 8 | blue;
}

// Every pixel word of a 32-bit bitmap, row by row, each row found through BytesPerRow().
std::vector<uint32> Words(const BBitmap& bitmap);

// Reads a PNG from the repository's sample images into a B_RGBA32 bitmap; the test fails if it
// cannot. Independent of the host's own image reader, so that filter tests do not rest on it.
BitmapPtr ReadSample(const std::string& name);

// Runs `work` and returns everything it printed on standard output.
std::string CaptureStdout(const std::function<void()>& work);

#endif // TEST_SUPPORT_H
