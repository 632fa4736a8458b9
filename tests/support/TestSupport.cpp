#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include <png.h>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

std::string BuiltAddonFolder()
{
	return QUIMBEL_TEST_ADDON_DIR;
}

std::vector<std::string> BuiltAddonFiles()
{
	std::vector<std::string> files;
	for (const auto& item : std::filesystem::directory_iterator(BuiltAddonFolder())) {
		if (item.is_regular_file() && item.path().filename().string()[0] != '.')
			files.push_back(item.path().filename().string());
	}
	std::sort(files.begin(), files.end());
	return files;
}

std::string AddonPath(const std::string& deliverable)
{
	return BuiltAddonFolder() + "/" + deliverable;
}

std::string FixturePath(const std::string& name)
{
	return std::string(QUIMBEL_TEST_FIXTURE_DIR) + "/" + name;
}

std::string SamplePath(const std::string& name)
{
	return std::string(QUIMBEL_TEST_SAMPLES_DIR) + "/" + name;
}

FilterPtr LoadFilter(const std::string& deliverable)
{
	std::string error;
	FilterPtr filter = LoadFilter(AddonPath(deliverable), error);
	EXPECT_NE(filter, nullptr) << error;
	return filter;
}

BitmapPtr MakeBitmap(BRect bounds, color_space space)
{
	return BitmapPtr(new BBitmap(bounds, space));
}

BitmapPtr MakeBitmap(int32 width, int32 height, color_space space)
{
	return MakeBitmap(BRect(0, 0, width - 1, height - 1), space);
}

void FillRandom(BBitmap* bitmap, uint32 seed, uint8 low, uint8 high)
{
	std::mt19937 random(seed);
	std::uniform_int_distribution<int> channel(low, high);
	std::uniform_int_distribution<int> alpha(0, 255);
	int32 width = bitmap->Bounds().IntegerWidth() + 1;
	int32 height = bitmap->Bounds().IntegerHeight() + 1;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++)
			SetWordAt(*bitmap, x, y,
			          Word(channel(random), channel(random), channel(random), alpha(random)));
	}
}

uint32 WordAt(const BBitmap& bitmap, int32 x, int32 y)
{
	uint32 word;
	memcpy(&word,
	       static_cast<const uint8*>(bitmap.Bits()) + (size_t)y * bitmap.BytesPerRow() + x * 4, 4);
	return word;
}

void SetWordAt(BBitmap& bitmap, int32 x, int32 y, uint32 word)
{
	memcpy(static_cast<uint8*>(bitmap.Bits()) + (size_t)y * bitmap.BytesPerRow() + x * 4, &word, 4);
}

std::vector<uint32> Words(const BBitmap& bitmap)
{
	std::vector<uint32> words;
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	for (int32 y = 0; y < height; y++) {
		for (int32 x = 0; x < width; x++)
			words.push_back(WordAt(bitmap, x, y));
	}
	return words;
}

std::string CaptureStdout(const std::function<void()>& work)
{
	fflush(stdout);
	char path[] = "/tmp/quimbel-stdout-XXXXXX";
	int capture = mkstemp(path);
	EXPECT_GE(capture, 0);
	unlink(path);
	int saved = dup(STDOUT_FILENO);
	dup2(capture, STDOUT_FILENO);

	work();

	fflush(stdout);
	dup2(saved, STDOUT_FILENO);
	close(saved);

	std::string text;
	char buffer[4096];
	lseek(capture, 0, SEEK_SET);
	ssize_t got;
	while ((got = read(capture, buffer, sizeof(buffer))) > 0)
		text.append(buffer, got);
	close(capture);
	return text;
}

BitmapPtr ReadSample(const std::string& name)
{
	std::string path = SamplePath(name);
	png_image image;
	memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&image, path.c_str())) {
		ADD_FAILURE() << path << ": " << image.message;
		return NULL;
	}
	image.format = PNG_FORMAT_BGRA;
	BitmapPtr bitmap = MakeBitmap(image.width, image.height, B_RGBA32);
	if (!bitmap->IsValid() ||
	    !png_image_finish_read(&image, NULL, bitmap->Bits(), bitmap->BytesPerRow(), NULL)) {
		ADD_FAILURE() << path << ": " << image.message;
		png_image_free(&image);
		return NULL;
	}
	return bitmap;
}
