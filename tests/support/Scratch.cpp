#include "Scratch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

Bytes ReadBytes(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	EXPECT_TRUE(file.good()) << path;
	return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
	std::ofstream file(path, std::ios::binary | std::ios::trunc);
	file.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
	EXPECT_TRUE(file.good()) << path;
}

void WriteText(const std::string& path, const std::string& text)
{
	WriteBytes(path, Bytes(text.begin(), text.end()));
}

void ScratchTest::SetUp()
{
	std::string pattern = (std::filesystem::temp_directory_path() / "quimbel-test-XXXXXX").string();
	ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << strerror(errno);
	fFolder = pattern;
}

void ScratchTest::TearDown()
{
	if (fFolder.empty())
		return;
	std::error_code ignored;
	chmod(fFolder.c_str(), 0700);
	for (const auto& item : std::filesystem::recursive_directory_iterator(fFolder, ignored)) {
		if (item.is_directory() && !item.is_symlink())
			chmod(item.path().c_str(), 0700);
	}
	std::filesystem::remove_all(fFolder, ignored);
}

std::vector<std::string> ScratchTest::Entries(const std::string& folder) const
{
	std::vector<std::string> names;
	for (const auto& item : std::filesystem::directory_iterator(folder.empty() ? fFolder : folder))
		names.push_back(item.path().filename().string());
	std::sort(names.begin(), names.end());
	return names;
}
