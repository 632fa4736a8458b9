// Replays the image readers' fuzz corpus: each file through ReadImage and every add-on.
#include <algorithm>
#include <filesystem>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

// The seed corpora of the image readers' fuzz targets.
const char* const kCorpora[] = {"fuzz_png_reader", "fuzz_jpeg_reader"};

std::vector<std::string> CorpusFiles()
{
	std::vector<std::string> files;
	for (const char* corpus : kCorpora) {
		std::string folder = std::string(QUIMBEL_TEST_CORPUS_DIR) + "/" + corpus;
		for (const auto& entry : std::filesystem::directory_iterator(folder)) {
			if (entry.is_regular_file())
				files.push_back(entry.path().string());
		}
	}
	std::sort(files.begin(), files.end());
	return files;
}

class CorpusReplayTest : public ::testing::TestWithParam<std::string> {};

// A corpus file decodes to a 32-bit bitmap or fails with a message naming it, and every add-on
// given the bitmap returns a valid bitmap or NULL.
TEST_P(CorpusReplayTest, DecodesAndFilters)
{
	const std::string& path = GetParam();
	ImageLimits limits;
	limits.maxSide = 4096;
	limits.maxPixels = 1 << 20;
	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadImage(path, limits, error);
	if (bitmap == NULL) {
		EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
		return;
	}
	ASSERT_TRUE(bitmap->IsValid());
	EXPECT_TRUE(bitmap->ColorSpace() == B_RGB32 || bitmap->ColorSpace() == B_RGBA32);

	std::vector<std::string> addons = BuiltAddonFiles();
	ASSERT_FALSE(addons.empty());
	for (const std::string& addon : addons) {
		FilterPtr filter = LoadFilter(addon);
		ASSERT_NE(filter, nullptr) << addon;
		std::unique_ptr<BBitmap> result(filter->Run(bitmap.get()));
		EXPECT_TRUE(result == NULL || result->IsValid()) << addon;
	}
}

INSTANTIATE_TEST_SUITE_P(Seeds, CorpusReplayTest, ::testing::ValuesIn(CorpusFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
	                         std::filesystem::path path(info.param);
	                         std::string name = path.parent_path().filename().string() + "_" +
	                                            path.stem().string();
	                         std::replace_if(
	                             name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
	                         return name;
                         });

} // namespace
