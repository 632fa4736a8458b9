// What the host and a worker process say to each other over their socket (a sequenced-packet
// socket: each message arrives whole or not at all). Bitmaps cross as the descriptor of their
// shared pixel memory, passed beside a message, and their layout.
//
//   worker, once its add-on is loaded:  kLoaded (id, name, what it found amiss) or kFailed
//   host:   kRun (the source's layout, flags) + the source's descriptor, read-only unless it
//           is a copy the host lends writable (kRunOnWritableCopy); kRun with kRunOnNull and no
//           descriptor to run the filter on NULL
//   worker: kResult (the result's layout, how long the filter ran) + the result's descriptor,
//           or kFailed
//
// The worker's bitmaps take their pixels from memory the host lends: at any time before it
// answers, the worker may send kAllocate (a length, and whether the block may come uncleared),
// and the host answers kBlock + the descriptor of a shared-memory file of that length.
//
// Between requests, the host may announce the next one: kPrepare (the source's length) + the
// source's descriptor, read-only, while the host is still filling the source, then kBlock (a
// length) + the descriptor of a block the host will lend for a result of that length, or no
// descriptor. The worker maps both ahead, on its own time, and answers nothing.
//
// A worker stopped by its sandbox first sends kForbidden with the call it tried, when it can.
#ifndef WORKER_PROTOCOL_H
#define WORKER_PROTOCOL_H

#include <Bitmap.h>
#include <GraphicsDefs.h>
#include <SupportDefs.h>

// The descriptor the worker finds its socket at.
const int kWorkerSocket = 3;

enum WorkerMessageKind : uint32 {
	kWorkerLoaded = 1,
	kWorkerRun,
	kWorkerResult,
	kWorkerFailed,
	kWorkerForbidden,
	kWorkerAllocate,
	kWorkerBlock,
	kWorkerPrepare,
};

// Flags of kWorkerRun.
enum WorkerRunFlags : uint32 {
	// The source is the host's copy, passed writable: the worker maps it so that an add-on that
	// writes into its source changes the copy, for the host to see, instead of crashing.
	kRunOnWritableCopy = 1,
	// No source, no descriptor: the filter is run on NULL.
	kRunOnNull = 2,
	// The filter runs on the source on two threads at once; the worker answers with one result
	// when both give the same, kFailureRunsDiffer when they do not.
	kRunOnTwoThreads = 4,
};

// Flags of kWorkerLoaded: how the add-on's filter object breaks the contract at load time.
enum WorkerLoadedFlags : uint32 {
	// No NUL within the object's name field.
	kLoadedNameUnterminated = 1,
	// The object's spare field is not 0.
	kLoadedSpareSet = 2,
	// A second call of instantiate_filter gave the same object again.
	kLoadedSameObjectTwice = 4,
	// A second call of instantiate_filter gave no object.
	kLoadedNoSecondObject = 8,
};

// Flags of kWorkerAllocate.
enum WorkerAllocateFlags : uint32 {
	// The worker writes every byte of the block before it reads one: the block need not be
	// cleared. The host lends each worker blocks that only that worker's results have used.
	kAllocateUncleared = 1,
};

// Why a worker gives no result.
enum WorkerFailure : uint32 {
	kFailureNone = 0,
	// The add-on could not be loaded or made no filter object; the text says why.
	kFailureLoad,
	kFailureNoImage,
	kFailureException,
	kFailureOutOfMemory,
	kFailureReturnedSource,
	// The result is no whole 32-bit image; the text says what is wrong with it.
	kFailureBadResult,
	// The source the host sent could not be mapped.
	kFailureBadSource,
	// Two runs at once gave different results, or could not both be started; the text says
	// which.
	kFailureRunsDiffer,
};

struct WorkerMessage {
	uint32 kind;
	// kWorkerLoaded: the filter's id and display name, NUL-terminated.
	int32 id;
	char name[64];
	// kWorkerRun, kWorkerResult: the bitmap's layout.
	uint32 space;
	float left;
	float top;
	float right;
	float bottom;
	// kWorkerFailed: why, with a text; kWorkerForbidden: the system call's number.
	uint32 failure;
	int32 call;
	char text[160];
	// kWorkerRun: WorkerRunFlags; kWorkerLoaded: WorkerLoadedFlags; kWorkerAllocate:
	// WorkerAllocateFlags.
	uint32 flags;
	// kWorkerAllocate: the bytes asked for; kWorkerPrepare, and kWorkerBlock that follows
	// it: the bytes to map.
	uint64 length;
	// kWorkerResult: how long the filter's Run took, in nanoseconds, timed in the worker so that
	// handing the images over is left out.
	uint64 runNanoseconds;
};

// Puts the layout of `bitmap` in `message`, as kWorkerRun and kWorkerResult carry it.
inline void SetMessageLayout(WorkerMessage& message, const BBitmap& bitmap)
{
	message.space = bitmap.ColorSpace();
	BRect bounds = bitmap.Bounds();
	message.left = bounds.left;
	message.top = bounds.top;
	message.right = bounds.right;
	message.bottom = bounds.bottom;
}

#endif // WORKER_PROTOCOL_H
