// What the host and a worker process say to each other over their socket (a sequenced-packet
// socket: each message arrives whole or not at all). Bitmaps cross as the descriptor of their
// shared pixel memory, passed beside a message, and their layout.
//
//   worker, once its add-on is loaded:  kLoaded (id, name) or kFailed
//   host:   kRun (the source's layout) + the source's descriptor
//   worker: kResult (the result's layout) + the result's descriptor, or kFailed
//
// The worker's bitmaps take their pixels from memory the host lends: at any time before it
// answers, the worker may send kAllocate (a length), and the host answers kBlock + the
// descriptor of a zero-filled shared-memory file of that length.
//
// A worker stopped by its sandbox first sends kForbidden with the call it tried, when it can.
#ifndef WORKER_PROTOCOL_H
#define WORKER_PROTOCOL_H

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
	// kWorkerAllocate: the bytes asked for.
	uint64 length;
};

#endif // WORKER_PROTOCOL_H
