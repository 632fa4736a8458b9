// quimbel-worker: runs one add-on's filter for the host, inside a sandbox, one request at a time.
//
//   quimbel-worker ADDON     with its socket to the host at descriptor 3, standard output to be
//                            read by the host, standard error shared with it
//
// It confines itself, loads the add-on, tells the host the filter's id and name, narrows its
// confinement and then runs the filter on every source the host sends, until the host closes
// the socket.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <SharedBitmap.h>

#include "AddonLoader.h"
#include "FilterRun.h"
#include "Sandbox.h"
#include "WorkerChannel.h"

namespace {

// Asks the host for the memory of a new bitmap; see WorkerProtocol.h. Two runs at once ask one
// after the other, so that each gets the answer to its own request.
int BorrowBlock(size_t length, bool cleared)
{
	static std::mutex sLock;
	std::lock_guard<std::mutex> lock(sLock);
	WorkerMessage request = {};
	request.kind = kWorkerAllocate;
	request.length = length;
	request.flags = cleared ? 0u : (uint32)kAllocateUncleared;
	WorkerMessage answer;
	int descriptor = -1;
	if (!SendWorkerMessage(kWorkerSocket, request) ||
	    !ReceiveWorkerMessage(kWorkerSocket, answer, descriptor))
		return -1;
	if (answer.kind != kWorkerBlock && descriptor >= 0) {
		close(descriptor);
		return -1;
	}
	return descriptor;
}

bool Fail(WorkerFailure failure, const std::string& text)
{
	WorkerMessage message = {};
	message.kind = kWorkerFailed;
	message.failure = failure;
	strncpy(message.text, text.c_str(), sizeof(message.text) - 1);
	return SendWorkerMessage(kWorkerSocket, message);
}

// What one call of the filter's Run gave, and how long it took.
struct Outcome {
	BBitmap* returned = NULL;
	WorkerFailure failure = kFailureNone;
	uint64 nanoseconds = 0;
};

Outcome RunFilterOn(ImageFilter& filter, BBitmap* source)
{
	Outcome outcome;
	std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
	try {
		outcome.returned = filter.Run(source);
	} catch (const std::bad_alloc&) {
		outcome.failure = kFailureOutOfMemory;
	} catch (...) {
		outcome.failure = kFailureException;
	}
	outcome.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
	                          std::chrono::steady_clock::now() - start)
	                          .count();
	return outcome;
}

// Deletes what a run returned, unless it is the source or lies over its memory.
void Discard(const Outcome& outcome, const BBitmap* source)
{
	if (outcome.returned != NULL && (source == NULL || !SharesSource(outcome.returned, *source)))
		delete outcome.returned;
}

bool SameResults(const BBitmap* one, const BBitmap* other)
{
	if (one == NULL || other == NULL)
		return one == other;
	return one->Bounds() == other->Bounds() && one->ColorSpace() == other->ColorSpace() &&
	       one->BitsLength() == other->BitsLength() && one->Bits() != NULL &&
	       other->Bits() != NULL && memcmp(one->Bits(), other->Bits(), one->BitsLength()) == 0;
}

// Runs the filter on `source` on this thread and a second one, started together as far as the
// system allows; `differs` says why the two cannot stand for one run when they do not agree.
Outcome RunOnTwoThreads(ImageFilter& filter, BBitmap* source, std::string& differs)
{
	std::atomic<int> waiting(2);
	auto run = [&filter, source, &waiting] {
		waiting--;
		while (waiting.load() > 0)
			sched_yield();
		return RunFilterOn(filter, source);
	};
	Outcome other;
	std::thread second;
	try {
		second = std::thread([&other, &run] { other = run(); });
	} catch (const std::system_error& error) {
		differs = std::string("could not start a second thread: ") + error.what();
		return Outcome();
	}
	Outcome mine = run();
	second.join();
	if (mine.returned != NULL && mine.returned == other.returned) {
		Discard(mine, source);
		differs = "two runs at once returned the same bitmap";
		return Outcome();
	}
	if (mine.failure != kFailureNone || other.failure != kFailureNone) {
		Discard(mine, source);
		Discard(other, source);
		return {NULL, mine.failure != kFailureNone ? mine.failure : other.failure};
	}
	if (!SameResults(mine.returned, other.returned)) {
		Discard(mine, source);
		Discard(other, source);
		differs = "two runs at once gave different results";
		return Outcome();
	}
	Discard(other, source);
	return mine;
}

// Runs the filter as `request` asks, on the source at `sourceDescriptor` or on NULL, and
// answers with the result or why there is none.
bool Serve(ImageFilter& filter, const WorkerMessage& request, int sourceDescriptor)
{
	std::unique_ptr<BBitmap> source;
	if ((request.flags & kRunOnNull) == 0) {
		BRect bounds(request.left, request.top, request.right, request.bottom);
		bool writable = (request.flags & kRunOnWritableCopy) != 0;
		source.reset(BPrivate::AdoptSharedBitmap(sourceDescriptor, bounds,
		                                         (color_space)request.space, writable));
		if (source == NULL) {
			close(sourceDescriptor);
			return Fail(kFailureBadSource, "the source could not be mapped");
		}
	}

	std::string differs;
	Outcome outcome = (request.flags & kRunOnTwoThreads) != 0
	                      ? RunOnTwoThreads(filter, source.get(), differs)
	                      : RunFilterOn(filter, source.get());
	// What the add-on printed reaches the host before the answer does.
	fflush(stdout);
	if (!differs.empty())
		return Fail(kFailureRunsDiffer, differs);
	if (outcome.failure != kFailureNone)
		return Fail(outcome.failure, "");
	if (outcome.returned == NULL)
		return Fail(kFailureNoImage, "");
	if (source != NULL && SharesSource(outcome.returned, *source)) {
		// Not deleted: the source's memory is not the result's to free.
		return Fail(kFailureReturnedSource, "");
	}
	std::unique_ptr<BBitmap> result(outcome.returned);
	if (const char* problem = ResultProblem(*result))
		return Fail(kFailureBadResult, problem);
	int descriptor = BPrivate::SharedBitmapDescriptor(*result);
	if (descriptor < 0)
		return Fail(kFailureBadResult, "returned a bitmap whose pixels cannot be shared");

	WorkerMessage answer = {};
	answer.kind = kWorkerResult;
	SetMessageLayout(answer, *result);
	answer.runNanoseconds = outcome.nanoseconds;
	return SendWorkerMessage(kWorkerSocket, answer, descriptor);
}

// Ends the worker as soon as the host has gone: the socket hangs up only when the host closes it,
// and then nobody waits for this worker any more. Without this, a filter stuck in Run when the
// host was killed would go on in the background for good.
void EndWhenHostIsGone()
{
	try {
		std::thread([] {
			struct pollfd socket = {kWorkerSocket, 0, 0};
			while (poll(&socket, 1, -1) < 0 && errno == EINTR) {
			}
			_exit(0);
		}).detach();
	} catch (const std::system_error&) {
		// Then only a worker whose filter is stuck outlives a host that was killed.
	}
}

void StartFirstThread()
{
	try {
		std::thread([] {}).join();
	} catch (const std::system_error&) {
		// Then a run on two threads reports that it could not start its second one.
	}
}

// What the add-on's filter object and its entry point do against the contract, as
// WorkerLoadedFlags.
uint32 LoadedFlags(const FilterPtr& filter)
{
	uint32 flags = 0;
	if (memchr(filter->name, '\0', sizeof(filter->name)) == NULL)
		flags |= kLoadedNameUnterminated;
	if (filter->spare != 0)
		flags |= kLoadedSpareSet;
	// Each call makes an object of its own: the second is compared and deleted, unless it is the
	// first one again.
	std::string error;
	FilterPtr second = filter.get_deleter().addon->Instantiate(error);
	if (second == NULL) {
		flags |= kLoadedNoSecondObject;
	} else if (second.get() == filter.get()) {
		flags |= kLoadedSameObjectTwice;
		second.release();
	}
	return flags;
}

} // namespace

int main(int argc, char** argv)
{
	if (argc != 2) {
		fprintf(stderr, "quimbel-worker: run by quimbel, not by hand\n");
		return 2;
	}
	std::string path = argv[1];
	bool landlocked = false;
	std::string error;
	if (!EnterSandbox(path, kWorkerSocket, landlocked, error)) {
		Fail(kFailureLoad, error);
		return 1;
	}
	// Started confined, as every thread after it is: a thread started before would keep the
	// rights the sandbox takes away, for an add-on to borrow.
	EndWhenHostIsGone();
	BPrivate::SetSharedBitmaps(true);
	BPrivate::SetSharedMemoryProvider(BorrowBlock);

	FilterPtr filter = LoadFilter(path, error);
	fflush(stdout);
	if (filter == NULL) {
		Fail(kFailureLoad, error);
		return 1;
	}
	WorkerMessage loaded = {};
	loaded.kind = kWorkerLoaded;
	loaded.id = filter->id;
	strncpy(loaded.name, FilterName(*filter).c_str(), sizeof(loaded.name) - 1);
	// Whether the kernel confines files, for the host to tell the user once.
	loaded.failure = landlocked ? 0 : 1;
	loaded.flags = LoadedFlags(filter);
	fflush(stdout);
	// The C library sets up for threads the first time one starts, with calls the narrowed
	// sandbox forbids: a first thread started now does that while they are allowed.
	StartFirstThread();
	if (!NarrowSandbox(error)) {
		Fail(kFailureLoad, error);
		return 1;
	}
	if (!SendWorkerMessage(kWorkerSocket, loaded))
		return 1;

	for (;;) {
		WorkerMessage request;
		int descriptor = -1;
		if (!ReceiveWorkerMessage(kWorkerSocket, request, descriptor))
			return 0;
		// The next request's source and the block for its result, mapped ahead; the bitmaps
		// made over them find the mappings. Nothing is lost when they cannot be.
		if ((request.kind == kWorkerPrepare || request.kind == kWorkerBlock) &&
		    request.length <= (uint64)BBitmap::kMaxBitsLength) {
			if (descriptor >= 0)
				BPrivate::PrefetchSharedPixels(descriptor, (size_t)request.length,
				                               request.kind == kWorkerBlock);
			continue;
		}
		bool onNull = (request.flags & kRunOnNull) != 0;
		if (request.kind != kWorkerRun || (descriptor < 0) != onNull) {
			if (descriptor >= 0)
				close(descriptor);
			return 1;
		}
		if (!Serve(*filter, request, descriptor))
			return 0;
	}
}
