// quimbel-worker: runs one add-on's filter for the host, inside a sandbox, one request at a time.
//
//   quimbel-worker ADDON     with its socket to the host at descriptor 3, standard output to be
//                            read by the host, standard error shared with it
//
// It confines itself, loads the add-on, tells the host the filter's id and name, narrows its
// confinement and then runs the filter on every source the host sends, until the host closes
// the socket.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <unistd.h>

#include <SharedBitmap.h>

#include "AddonLoader.h"
#include "FilterRun.h"
#include "Sandbox.h"
#include "WorkerChannel.h"

namespace {

// Asks the host for the memory of a new bitmap; see WorkerProtocol.h.
int BorrowBlock(size_t length)
{
	WorkerMessage request = {};
	request.kind = kWorkerAllocate;
	request.length = length;
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

// Runs the filter on one source and answers with the result or why there is none.
bool Serve(ImageFilter& filter, const WorkerMessage& request, int sourceDescriptor)
{
	BRect bounds(request.left, request.top, request.right, request.bottom);
	std::unique_ptr<BBitmap> source(
	    BPrivate::AdoptSharedBitmap(sourceDescriptor, bounds, (color_space)request.space, false));
	if (source == NULL) {
		close(sourceDescriptor);
		return Fail(kFailureBadSource, "the source could not be mapped");
	}

	BBitmap* returned = NULL;
	WorkerFailure failure = kFailureNone;
	try {
		returned = filter.Run(source.get());
	} catch (const std::bad_alloc&) {
		failure = kFailureOutOfMemory;
	} catch (...) {
		failure = kFailureException;
	}
	// What the add-on printed reaches the host before the answer does.
	fflush(stdout);
	if (failure != kFailureNone)
		return Fail(failure, "");
	if (returned == NULL)
		return Fail(kFailureNoImage, "");
	if (SharesSource(returned, *source)) {
		// Not deleted: the source's memory is not the result's to free.
		return Fail(kFailureReturnedSource, "");
	}
	std::unique_ptr<BBitmap> result(returned);
	if (const char* problem = ResultProblem(*result))
		return Fail(kFailureBadResult, problem);
	int descriptor = BPrivate::SharedBitmapDescriptor(*result);
	if (descriptor < 0)
		return Fail(kFailureBadResult, "returned a bitmap whose pixels cannot be shared");

	WorkerMessage answer = {};
	answer.kind = kWorkerResult;
	answer.space = result->ColorSpace();
	BRect resultBounds = result->Bounds();
	answer.left = resultBounds.left;
	answer.top = resultBounds.top;
	answer.right = resultBounds.right;
	answer.bottom = resultBounds.bottom;
	return SendWorkerMessage(kWorkerSocket, answer, descriptor);
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
		if (request.kind != kWorkerRun || descriptor < 0) {
			if (descriptor >= 0)
				close(descriptor);
			return 1;
		}
		if (!Serve(*filter, request, descriptor))
			return 0;
	}
}
