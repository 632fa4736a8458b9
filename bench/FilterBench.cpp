// Throughput of every add-on's Run on a photograph-sized image, beside memcpy of the same bytes
// measured in the same run. Each result is reported in megapixels per second and as a ratio to
// memcpy, since only ratios from one run compare on a shared machine.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <Bitmap.h>

#include <SharedBitmap.h>

#include "AddonLoader.h"
#include "AddonWorker.h"
#include "HugePageFolder.h"

namespace {

const int32 kWidth = 6000;
const int32 kHeight = 4000;
const int64 kPixels = (int64)kWidth * kHeight;
const int kRepetitions = 3;

// The add-ons measured, by file name.
const char* const kAddons[] = {
    "ChannelLift", "CopyThrough", "Inverter",  "Shrinker",     "Enlarger",
    "TurnRight",   "TurnLeft",    "RowMirror", "ColumnMirror",
};

// The add-ons whose work depends on alpha, measured once more on an opaque source.
const char* const kOpaqueAddons[] = {"Shrinker", "Enlarger"};

void SetPixelRate(benchmark::State& state)
{
	state.counters["MP/s"] =
	    benchmark::Counter((double)kPixels * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

// Random colours; alpha random too, or 255 throughout as in a photograph.
std::unique_ptr<BBitmap> MakeSource(bool opaque)
{
	auto source = std::make_unique<BBitmap>(BRect(0, 0, kWidth - 1, kHeight - 1), B_RGBA32);
	uint32* words = static_cast<uint32*>(source->Bits());
	uint32 state = 12345;
	for (int64 i = 0; i < kPixels; i++) {
		state = state * 1664525u + 1013904223u;
		// Colour channels between 1 and 245 keep every filter on its normal path.
		uint32 word = opaque ? 0xff000000u : state >> 24 << 24;
		for (int shift = 0; shift < 24; shift += 8)
			word |= (1 + ((state >> shift) & 0xff) % 245) << shift;
		words[i] = word;
	}
	return source;
}

BBitmap* SharedSource()
{
	static std::unique_ptr<BBitmap> source = MakeSource(false);
	return source.get();
}

BBitmap* OpaqueSource()
{
	static std::unique_ptr<BBitmap> source = MakeSource(true);
	return source.get();
}

// The same random source in shared memory, which a worker process can map.
BBitmap* WorkerSource()
{
	static std::unique_ptr<BBitmap> source = [] {
		// As quimbel shares memory with its workers.
		BPrivate::SetSharedMemoryFolder(OpenHugePageFolder);
		BPrivate::SetSharedBitmaps(true);
		std::unique_ptr<BBitmap> shared = MakeSource(false);
		BPrivate::SetSharedBitmaps(false);
		return shared;
	}();
	return source.get();
}

// The yardstick: copying the image's bytes into memory that is already touched.
void BM_Memcpy(benchmark::State& state)
{
	BBitmap* source = SharedSource();
	std::vector<uint8> destination(source->BitsLength(), 1);
	for (auto _ : state) {
		memcpy(destination.data(), source->Bits(), source->BitsLength());
		benchmark::DoNotOptimize(destination.data());
		benchmark::ClobberMemory();
	}
	SetPixelRate(state);
}

// What "Half" is measured against: the rounded mean of each 2 x 2 block of bytes, written out
// directly into a new bitmap (allocation and release included). It weighs no alpha, so it is
// what "Half" computes for B_RGB32.
void BM_Direct2x2Mean(benchmark::State& state)
{
	BBitmap* source = SharedSource();
	const int32 kHalfWidth = kWidth / 2;
	const int32 kHalfHeight = kHeight / 2;
	for (auto _ : state) {
		auto result =
		    std::make_unique<BBitmap>(BRect(0, 0, kHalfWidth - 1, kHalfHeight - 1), B_RGBA32);
		const uint8* in = static_cast<const uint8*>(source->Bits());
		uint8* out = static_cast<uint8*>(result->Bits());
		for (int32 y = 0; y < kHalfHeight; y++) {
			const uint8* top = in + (size_t)2 * y * source->BytesPerRow();
			const uint8* bottom = top + source->BytesPerRow();
			uint8* row = out + (size_t)y * result->BytesPerRow();
			for (int32 x = 0; x < kHalfWidth * 4; x++) {
				int32 i = x / 4 * 8 + x % 4;
				row[x] = (uint8)((top[i] + top[i + 4] + bottom[i] + bottom[i + 4] + 2) >> 2);
			}
		}
		benchmark::DoNotOptimize(result.get());
	}
	SetPixelRate(state);
}

// One Run, the destination's allocation and release included.
void BM_Filter(benchmark::State& state, const std::string& path, BBitmap* (*makeSource)())
{
	std::string error;
	FilterPtr filter = LoadFilter(path, error);
	if (filter == nullptr) {
		state.SkipWithError(error.c_str());
		return;
	}
	BBitmap* source = makeSource();
	// Warmed up as the worker's runs are: the first result takes fresh memory.
	std::unique_ptr<BBitmap>(filter->Run(source));
	for (auto _ : state) {
		std::unique_ptr<BBitmap> result(filter->Run(source));
		benchmark::DoNotOptimize(result.get());
	}
	SetPixelRate(state);
}

// One Run through a worker process, as the host runs add-ons: the request, the filter in the
// worker with the result's allocation, and the result's mapping and release in this process.
void BM_FilterInWorker(benchmark::State& state, const std::string& path)
{
	std::string error;
	std::unique_ptr<AddonWorker> worker =
	    AddonWorker::Start(path, WorkerLimits(), OutputSink(), error);
	if (worker == nullptr) {
		state.SkipWithError(error.c_str());
		return;
	}
	BBitmap* source = WorkerSource();
	// A first run maps the result's fresh memory into both processes, as the first file of a
	// batch does; the runs measured are those of the files after it.
	if (worker->Run(*source, OutputSink(), error) == nullptr) {
		state.SkipWithError(error.c_str());
		return;
	}
	for (auto _ : state) {
		std::unique_ptr<BBitmap> result = worker->Run(*source, OutputSink(), error);
		if (result == nullptr) {
			state.SkipWithError(error.c_str());
			return;
		}
		benchmark::DoNotOptimize(result.get());
	}
	SetPixelRate(state);
}

// The filter in process and through a worker by turns, each Run timed on its own: on a machine
// shared with other work, runs side by side meet the same load, where two benchmarks run one
// after the other need not. The time reported is the worker's; "worker/in" is how fast it went
// against the filter in process, over the same iterations (1 for the same speed).
void BM_FilterBothWays(benchmark::State& state, const std::string& path)
{
	std::string error;
	FilterPtr filter = LoadFilter(path, error);
	std::unique_ptr<AddonWorker> worker =
	    filter != nullptr ? AddonWorker::Start(path, WorkerLimits(), OutputSink(), error) : nullptr;
	if (worker == nullptr) {
		state.SkipWithError(error.c_str());
		return;
	}
	BBitmap* source = SharedSource();
	BBitmap* shared = WorkerSource();
	// Both warmed up as in BM_Filter() and BM_FilterInWorker().
	std::unique_ptr<BBitmap>(filter->Run(source));
	if (worker->Run(*shared, OutputSink(), error) == nullptr) {
		state.SkipWithError(error.c_str());
		return;
	}
	typedef std::chrono::steady_clock Clock;
	Clock::duration inProcess{};
	Clock::duration inWorker{};
	for (auto _ : state) {
		Clock::time_point start = Clock::now();
		std::unique_ptr<BBitmap>(filter->Run(source));
		Clock::time_point between = Clock::now();
		std::unique_ptr<BBitmap> result = worker->Run(*shared, OutputSink(), error);
		Clock::time_point end = Clock::now();
		if (result == nullptr) {
			state.SkipWithError(error.c_str());
			return;
		}
		inProcess += between - start;
		inWorker += end - between;
		state.SetIterationTime(std::chrono::duration<double>(end - between).count());
	}
	SetPixelRate(state);
	state.counters["worker/in"] = std::chrono::duration<double>(inProcess).count() /
	                              std::max(std::chrono::duration<double>(inWorker).count(), 1e-9);
}

// Prints, after the usual table, each benchmark's megapixels per second over memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
	void ReportRuns(const std::vector<Run>& runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run& run : runs) {
			if (run.error_occurred || run.run_type != Run::RT_Aggregate ||
			    run.aggregate_name != "median")
				continue;
			auto rate = run.counters.find("MP/s");
			if (rate != run.counters.end())
				fMedians[run.run_name.function_name] = rate->second.value;
		}
	}

	void Finalize() override
	{
		ConsoleReporter::Finalize();
		auto yardstick = fMedians.find("BM_Memcpy");
		if (yardstick == fMedians.end())
			return;
		printf("\n%-24s %12s %14s\n", "median of runs", "MP/s", "ratio to memcpy");
		for (const auto& [name, rate] : fMedians)
			printf("%-24s %12.1f %14.3f\n", name.c_str(), rate, rate / yardstick->second);
	}

private:
	std::map<std::string, double> fMedians;
};

} // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)
	    ->Unit(benchmark::kMillisecond)
	    ->Repetitions(kRepetitions)
	    ->UseRealTime();
	benchmark::RegisterBenchmark("BM_Direct2x2Mean", BM_Direct2x2Mean)
	    ->Unit(benchmark::kMillisecond)
	    ->Repetitions(kRepetitions)
	    ->UseRealTime();
	for (const char* name : kAddons) {
		std::string path = std::string(QUIMBEL_BENCH_ADDON_DIR) + "/" + name;
		benchmark::RegisterBenchmark(name, BM_Filter, path, SharedSource)
		    ->Unit(benchmark::kMillisecond)
		    ->Repetitions(kRepetitions)
		    ->UseRealTime();
	}
	for (const char* name : kAddons) {
		std::string path = std::string(QUIMBEL_BENCH_ADDON_DIR) + "/" + name;
		benchmark::RegisterBenchmark((std::string(name) + "/worker").c_str(), BM_FilterInWorker,
		                             path)
		    ->Unit(benchmark::kMillisecond)
		    ->Repetitions(kRepetitions)
		    ->UseRealTime();
	}
	for (const char* name : kAddons) {
		std::string path = std::string(QUIMBEL_BENCH_ADDON_DIR) + "/" + name;
		benchmark::RegisterBenchmark((std::string(name) + "/both-ways").c_str(), BM_FilterBothWays,
		                             path)
		    ->Unit(benchmark::kMillisecond)
		    ->Repetitions(kRepetitions)
		    ->UseManualTime();
	}
	for (const char* name : kOpaqueAddons) {
		std::string path = std::string(QUIMBEL_BENCH_ADDON_DIR) + "/" + name;
		benchmark::RegisterBenchmark((std::string(name) + "/opaque").c_str(), BM_Filter, path,
		                             OpaqueSource)
		    ->Unit(benchmark::kMillisecond)
		    ->Repetitions(kRepetitions)
		    ->UseRealTime();
	}
	RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
	return 0;
}
