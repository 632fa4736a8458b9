// Throughput and file size of reading and writing a photograph-sized image, for each PNG
// compression and for each other kind written. The image is a sample photograph enlarged to 6000 x 4000 with a
// little noise, which compresses about as a camera's picture does; a random image would not
// compress at all and a smooth one far too well.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "ImageFile.h"

namespace {

const int32 kWidth = 6000;
const int32 kHeight = 4000;
const int64 kPixels = (int64)kWidth * kHeight;
const int kRepetitions = 3;
const float kNoise = 2.5f;
const int kPngCompressions[] = {0, 1, 2, 3, 6};

// Bilinear enlargement of the sample, with normally distributed noise on each channel.
std::unique_ptr<BBitmap> MakePhotograph()
{
	std::string error;
	std::unique_ptr<BBitmap> sample =
	    ReadImage(QUIMBEL_BENCH_SAMPLES_DIR "/astronaut.png", ImageLimits(), error);
	if (sample == NULL) {
		fprintf(stderr, "%s\n", error.c_str());
		exit(1);
	}
	int32 sampleWidth = sample->Bounds().IntegerWidth() + 1;
	int32 sampleHeight = sample->Bounds().IntegerHeight() + 1;
	const uint8* in = static_cast<const uint8*>(sample->Bits());
	auto photograph = std::make_unique<BBitmap>(BRect(0, 0, kWidth - 1, kHeight - 1), B_RGB32);
	uint8* out = static_cast<uint8*>(photograph->Bits());
	std::mt19937 random(1);
	std::normal_distribution<float> noise(0, kNoise);
	for (int32 y = 0; y < kHeight; y++) {
		float sy = std::max(0.0f, (y + 0.5f) * sampleHeight / kHeight - 0.5f);
		int32 y0 = std::min((int32)sy, sampleHeight - 1);
		int32 y1 = std::min(y0 + 1, sampleHeight - 1);
		float fy = sy - y0;
		for (int32 x = 0; x < kWidth; x++) {
			float sx = std::max(0.0f, (x + 0.5f) * sampleWidth / kWidth - 0.5f);
			int32 x0 = std::min((int32)sx, sampleWidth - 1);
			int32 x1 = std::min(x0 + 1, sampleWidth - 1);
			float fx = sx - x0;
			uint8* pixel = out + ((size_t)y * kWidth + x) * 4;
			for (int c = 0; c < 3; c++) {
				auto at = [&](int32 px, int32 py) {
					return (float)in[((size_t)py * sampleWidth + px) * 4 + c];
				};
				float value = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) +
				              fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1)) + noise(random);
				pixel[c] = (uint8)std::clamp(value + 0.5f, 0.0f, 255.0f);
			}
			pixel[3] = 255;
		}
	}
	return photograph;
}

const BBitmap& Photograph()
{
	static std::unique_ptr<BBitmap> photograph = MakePhotograph();
	return *photograph;
}

// The folder the benchmarks write their files to, removed with them at exit.
class ScratchFolder {
public:
	ScratchFolder()
	{
		char path[] = "/tmp/quimbel-bench-XXXXXX";
		fPath = mkdtemp(path) != NULL ? path : "";
	}
	~ScratchFolder()
	{
		std::error_code ignored;
		if (!fPath.empty())
			std::filesystem::remove_all(fPath, ignored);
	}
	std::string Path(const std::string& name) const { return fPath + "/" + name; }

private:
	std::string fPath;
};

std::string Scratch(const std::string& name)
{
	static ScratchFolder sFolder;
	return sFolder.Path(name);
}

void SetCounters(benchmark::State& state, const std::string& path)
{
	state.counters["MP/s"] =
	    benchmark::Counter((double)kPixels * state.iterations() / 1e6, benchmark::Counter::kIsRate);
	struct stat status;
	if (stat(path.c_str(), &status) == 0)
		state.counters["MB"] = (double)status.st_size / 1e6;
}

// One WriteImage: encoding, the checked writes, fsync and rename.
void BM_Write(benchmark::State& state, const std::string& name, WriteOptions options)
{
	const BBitmap& photograph = Photograph();
	std::string path = Scratch(name);
	std::string error;
	for (auto _ : state) {
		if (!WriteImage(photograph, path, options, error)) {
			state.SkipWithError(error.c_str());
			return;
		}
	}
	SetCounters(state, path);
}

// One ReadImage of a file the matching write benchmark made, from the page cache.
void BM_Read(benchmark::State& state, const std::string& name, WriteOptions options)
{
	std::string path = Scratch(name);
	std::string error;
	if (!WriteImage(Photograph(), path, options, error)) {
		state.SkipWithError(error.c_str());
		return;
	}
	for (auto _ : state) {
		std::unique_ptr<BBitmap> bitmap = ReadImage(path, ImageLimits(), error);
		benchmark::DoNotOptimize(bitmap.get());
	}
	SetCounters(state, path);
}

void Register(const std::string& name,
              void (*function)(benchmark::State&, const std::string&, WriteOptions),
              const std::string& file, WriteOptions options)
{
	// Each repetition writes the file again.
	options.existing = Existing::kReplace;
	benchmark::RegisterBenchmark(name.c_str(), function, file, options)
	    ->Unit(benchmark::kMillisecond)
	    ->Iterations(1)
	    ->Repetitions(kRepetitions)
	    ->UseRealTime();
}

bool RegisterCodecBenchmarks()
{
	for (int compression : kPngCompressions) {
		WriteOptions options;
		options.pngCompression = compression;
		std::string level = std::to_string(compression);
		Register("BM_PngWrite_level" + level, BM_Write, "level" + level + ".png", options);
	}
	Register("BM_PngRead", BM_Read, "read.png", WriteOptions());
	Register("BM_JpegWrite", BM_Write, "out.jpg", WriteOptions());
	Register("BM_JpegRead", BM_Read, "read.jpg", WriteOptions());
	WriteOptions lossless;
	lossless.lossless = true;
	Register("BM_WebpWrite", BM_Write, "out.webp", WriteOptions());
	Register("BM_WebpRead", BM_Read, "read.webp", WriteOptions());
	Register("BM_WebpWrite_lossless", BM_Write, "lossless.webp", lossless);
	Register("BM_WebpRead_lossless", BM_Read, "read-lossless.webp", lossless);
	Register("BM_TiffWrite", BM_Write, "out.tif", WriteOptions());
	Register("BM_TiffRead", BM_Read, "read.tif", WriteOptions());
	Register("BM_AvifWrite", BM_Write, "out.avif", WriteOptions());
	Register("BM_AvifRead", BM_Read, "read.avif", WriteOptions());
	return true;
}

const bool sRegistered = RegisterCodecBenchmarks();

} // namespace
