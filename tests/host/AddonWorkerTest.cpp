// Add-ons run in sandboxed worker processes: every way an add-on can misbehave costs that one
// request, named as what happened, and the host goes on; good add-ons give what they give in
// this process.
#include <filesystem>

#include <unistd.h>

#include <gtest/gtest.h>

#include <SharedBitmap.h>

#include "AddonWorker.h"
#include "TestSupport.h"

namespace {

std::string Misbehaving(const std::string& name)
{
	return FixturePath("misbehaving/" + name);
}

// A source whose pixels the worker can map.
BitmapPtr SharedSource(int32 width, int32 height)
{
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr source = MakeBitmap(width, height, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	FillRandom(source.get(), 7);
	return source;
}

struct Misbehaviour {
	const char* addon;
	// What the worker's failure is called, at loading or at running.
	const char* onStart;
	const char* onRun;
};

void PrintTo(const Misbehaviour& row, std::ostream* out)
{
	*out << row.addon;
}

const Misbehaviour kMisbehaviours[] = {
    {"CrashOnLoad", "crashed (segmentation fault)", NULL},
    {"CrashInInstantiate", "crashed (segmentation fault)", NULL},
    {"CrashInRun", NULL, "crashed (segmentation fault)"},
    {"HangInRun", NULL, "was stopped after 2 s"},
    {"ExitInRun", NULL, "exited"},
    {"ThrowInRun", NULL, "raised an exception"},
    {"AbsurdBoundsInRun", NULL, "returned a bitmap without pixel memory"},
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime opens files, so a worker under it may call open (Landlock still
    // keeps the file closed).
    {"OpenInRun", NULL, "was stopped for calling openat"},
#endif
    {"SocketInRun", NULL, "was stopped for calling socket"},
    {"ExecInRun", NULL, "was stopped for calling execve"},
#if !defined(__SANITIZE_ADDRESS__)
    // Only an address-space limit stops it, which a worker under AddressSanitizer cannot have.
    {"AllocateInRun", NULL, "ran out of memory"},
#endif
};

class MisbehavingAddon : public testing::TestWithParam<Misbehaviour> {};

// The failure is reported as what it was, and a new worker for a good add-on still works.
TEST_P(MisbehavingAddon, CostsOneRequest)
{
	const Misbehaviour& row = GetParam();
	WorkerLimits limits;
	limits.timeoutSeconds = 2;
	limits.addressSpace = (int64)1 << 30;
	std::string error;
	std::unique_ptr<AddonWorker> worker =
	    AddonWorker::Start(Misbehaving(row.addon), limits, OutputSink(), error);
	if (row.onStart != NULL) {
		EXPECT_EQ(worker, nullptr);
		EXPECT_EQ(error, row.onStart);
	} else {
		ASSERT_NE(worker, nullptr) << error;
		EXPECT_EQ(worker->Name(), "Misbehaving");
		BitmapPtr source = SharedSource(16, 8);
		EXPECT_EQ(worker->Run(*source, OutputSink(), error), nullptr);
		EXPECT_EQ(error, row.onRun);
	}

	std::unique_ptr<AddonWorker> good =
	    AddonWorker::Start(AddonPath("CopyThrough"), limits, OutputSink(), error);
	ASSERT_NE(good, nullptr) << error;
	BitmapPtr source = SharedSource(5, 3);
	std::unique_ptr<BBitmap> copy = good->Run(*source, OutputSink(), error);
	ASSERT_NE(copy, nullptr) << error;
	EXPECT_EQ(Words(*copy), Words(*source));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MisbehavingAddon, testing::ValuesIn(kMisbehaviours),
                         [](const testing::TestParamInfo<Misbehaviour>& info) {
	                         return std::string(info.param.addon);
                         });

// An add-on's constructor cannot write a file: the worker may write nowhere.
TEST(AddonWorker, LoadingWritesNothing)
{
	std::string written = FixturePath("written-by-an-add-on");
	std::filesystem::remove(written);
	std::string error;
	std::unique_ptr<AddonWorker> worker =
	    AddonWorker::Start(Misbehaving("WriteOnLoad"), WorkerLimits(), OutputSink(), error);
	ASSERT_NE(worker, nullptr) << error;
	EXPECT_TRUE(worker->Landlocked());
	EXPECT_FALSE(std::filesystem::exists(written));
}

// What an add-on prints reaches the host whole and in order, however much it is.
TEST(AddonWorker, PassesOnWhatTheAddonPrints)
{
	std::string error;
	std::unique_ptr<AddonWorker> worker =
	    AddonWorker::Start(Misbehaving("PrintInRun"), WorkerLimits(), OutputSink(), error);
	ASSERT_NE(worker, nullptr) << error;
	size_t printed = 0;
	bool onlyLines = true;
	OutputSink count = [&](const char* data, size_t size) {
		for (size_t i = 0; i < size; i++, printed++)
			onlyLines = onlyLines && data[i] == ((printed + 1) % (1 << 20) == 0 ? '\n' : 'x');
	};
	BitmapPtr source = SharedSource(4, 4);
	EXPECT_NE(worker->Run(*source, count, error), nullptr) << error;
	EXPECT_EQ(printed, (size_t)1 << 30);
	EXPECT_TRUE(onlyLines);
}

// Each of the nine add-ons gives, through a worker, the very bytes it gives in this process.
TEST(AddonWorker, GivesWhatTheAddonGivesInProcess)
{
	BitmapPtr sample = ReadSample("chelsea.png");
	ASSERT_NE(sample, nullptr);
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr source = MakeBitmap(sample->Bounds(), B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	memcpy(source->Bits(), sample->Bits(), sample->BitsLength());

	for (const std::string& file : BuiltAddonFiles()) {
		std::string error;
		std::unique_ptr<AddonWorker> worker =
		    AddonWorker::Start(AddonPath(file), WorkerLimits(), OutputSink(), error);
		ASSERT_NE(worker, nullptr) << file << ": " << error;
		std::unique_ptr<BBitmap> remote = worker->Run(*source, OutputSink(), error);
		FilterPtr filter = LoadFilter(file);
		std::unique_ptr<BBitmap> local;
		CaptureStdout([&] { local.reset(filter->Run(source.get())); });
		ASSERT_EQ(remote == nullptr, local == nullptr) << file << ": " << error;
		if (local == nullptr)
			continue;
		EXPECT_EQ(remote->Bounds(), local->Bounds()) << file;
		EXPECT_EQ(remote->ColorSpace(), local->ColorSpace()) << file;
		EXPECT_TRUE(Words(*remote) == Words(*local)) << file;
	}
}

// A worker's results reuse the memory of its earlier ones without clearing it where the filter
// writes every byte: a result never shows what an earlier one left there.
TEST(AddonWorker, ResultsShowNothingOfEarlierOnes)
{
	BitmapPtr first = SharedSource(301, 203);
	BitmapPtr second = SharedSource(301, 203);
	FillRandom(second.get(), 8, 1, 245);

	for (const std::string& file : BuiltAddonFiles()) {
		std::string error;
		std::unique_ptr<AddonWorker> worker =
		    AddonWorker::Start(AddonPath(file), WorkerLimits(), OutputSink(), error);
		ASSERT_NE(worker, nullptr) << file << ": " << error;
		// The first result is scribbled over and goes, its memory back to the blocks lent to
		// this worker.
		std::unique_ptr<BBitmap> earlier = worker->Run(*first, OutputSink(), error);
		ASSERT_NE(earlier, nullptr) << file << ": " << error;
		memset(earlier->Bits(), 0xa5, earlier->BitsLength());
		earlier.reset();
		std::unique_ptr<BBitmap> remote = worker->Run(*second, OutputSink(), error);
		FilterPtr filter = LoadFilter(file);
		std::unique_ptr<BBitmap> local;
		CaptureStdout([&] { local.reset(filter->Run(second.get())); });
		ASSERT_EQ(remote == nullptr, local == nullptr) << file << ": " << error;
		if (local != nullptr) {
			EXPECT_TRUE(Words(*remote) == Words(*local)) << file;
		}
	}
}

// A worker told of a source before its pixels are filled in maps it ahead, and still sees the
// pixels written after; told of one source and then run on another, it runs on the other.
TEST(AddonWorker, PreparedRunsSeeTheFinishedSource)
{
	BitmapPtr other = SharedSource(640, 480);
	for (const char* file : {"Inverter", "TurnRight", "ChannelLift"}) {
		std::string error;
		std::unique_ptr<AddonWorker> worker =
		    AddonWorker::Start(AddonPath(file), WorkerLimits(), OutputSink(), error);
		ASSERT_NE(worker, nullptr) << file << ": " << error;
		FilterPtr filter = LoadFilter(file);

		BPrivate::SetSharedBitmaps(true);
		BitmapPtr source = MakeBitmap(640, 480, B_RGBA32);
		BPrivate::SetSharedBitmaps(false);
		worker->Prepare(*source);
		FillRandom(source.get(), 11, 1, 245);
		for (BBitmap* image : {source.get(), other.get()}) {
			std::unique_ptr<BBitmap> remote = worker->Run(*image, OutputSink(), error);
			ASSERT_NE(remote, nullptr) << file << ": " << error;
			std::unique_ptr<BBitmap> local;
			CaptureStdout([&] { local.reset(filter->Run(image)); });
			ASSERT_NE(local, nullptr) << file;
			EXPECT_TRUE(Words(*remote) == Words(*local)) << file;
			worker->Prepare(*source);
		}
	}
}

} // namespace
