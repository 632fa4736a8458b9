// A main for the fuzz targets in builds without libFuzzer, such as the test suite's: it runs
// the target once on every input file it is given, or on every file of the folders it is given,
// the way libFuzzer replays a corpus. The sanitizers of the build catch what the inputs do.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> InputFiles(int argc, char** argv)
{
	std::vector<std::string> files;
	for (int i = 1; i < argc; i++) {
		std::error_code error;
		if (!std::filesystem::is_directory(argv[i], error)) {
			files.push_back(argv[i]);
			continue;
		}
		std::vector<std::string> inFolder;
		for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
			if (entry.is_regular_file())
				inFolder.push_back(entry.path().string());
		}
		std::sort(inFolder.begin(), inFolder.end());
		files.insert(files.end(), inFolder.begin(), inFolder.end());
	}
	return files;
}

} // namespace

int main(int argc, char** argv)
{
	std::vector<std::string> files = InputFiles(argc, argv);
	if (files.empty()) {
		fprintf(stderr, "%s: no inputs to replay\n", argv[0]);
		return 1;
	}
	for (const std::string& file : files) {
		std::ifstream stream(file, std::ios::binary);
		if (!stream) {
			fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
			return 1;
		}
		std::vector<uint8_t> data((std::istreambuf_iterator<char>(stream)),
		                          std::istreambuf_iterator<char>());
		LLVMFuzzerTestOneInput(data.data(), data.size());
	}
	fprintf(stderr, "%s: replayed %zu inputs\n", argv[0], files.size());
	return 0;
}
