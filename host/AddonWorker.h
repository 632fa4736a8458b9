// A worker process that runs one add-on's filter, so that whatever the add-on does (crash, hang,
// exit, call what it should not) costs one request and never the host. See WorkerProtocol.h.
#ifndef ADDON_WORKER_H
#define ADDON_WORKER_H

#include <functional>
#include <memory>
#include <string>

#include <sys/types.h>

#include <Bitmap.h>

#include "LentMemory.h"

struct WorkerLimits {
	// The address space the worker may take, in bytes; 0 for no limit. The sanitizer build's
	// workers have none.
	int64 addressSpace = 0;
	// How long loading the add-on or one Run may take, in seconds.
	int timeoutSeconds = 60;
};

// Receives what the add-on prints on standard output, as it comes.
typedef std::function<void(const char* data, size_t size)> OutputSink;

class AddonWorker {
public:
	// Starts a worker for the add-on file at `path` and waits until it has loaded the add-on
	// and made its filter object. Returns NULL with `error` when the worker cannot be started or
	// the add-on does not load; `error` then says what happened, without the path.
	static std::unique_ptr<AddonWorker> Start(const std::string& path, const WorkerLimits& limits,
	                                          const OutputSink& output, std::string& error);

	// Start() in two steps, so that several workers can load their add-ons at once: Launch()
	// starts the process, WaitUntilLoaded() waits for its add-on and returns false, with
	// `error`, when it does not load.
	static std::unique_ptr<AddonWorker> Launch(const std::string& path, const WorkerLimits& limits,
	                                           std::string& error);
	bool WaitUntilLoaded(const OutputSink& output, std::string& error);
	// Ends the worker.
	~AddonWorker();

	int32 Id() const { return fId; }
	const std::string& Name() const { return fName; }
	// How the add-on's filter object broke the contract as it loaded, as WorkerLoadedFlags
	// (WorkerProtocol.h).
	uint32 LoadedFlags() const { return fLoadedFlags; }
	// Whether the kernel confined the worker's files with Landlock.
	bool Landlocked() const { return fLandlocked; }
	// False once the worker has failed; it takes no more requests then.
	bool IsAlive() const { return fProcess > 0; }
	// Whether WaitUntilLoaded() has seen the add-on loaded.
	bool IsLoaded() const { return fLoaded; }

	// Runs the filter on `source`, whose pixels must be shared (see SharedBitmap.h). Returns the
	// result, owned by the caller, or NULL with `error` saying what went wrong ("returned no
	// image", "crashed (segmentation fault)", "was stopped after 60 s", ...). With `seconds`,
	// sets it to how long the filter's Run took in the worker, handing the images over left out.
	std::unique_ptr<BBitmap> Run(const BBitmap& source, const OutputSink& output,
	                             std::string& error, double* seconds = NULL);
	// Run() on `copy`, a copy the caller made of a source, handed over writable: whatever the
	// add-on writes into its source ends up in `copy` instead of crashing the worker.
	std::unique_ptr<BBitmap> RunOnCopy(BBitmap& copy, const OutputSink& output, std::string& error);
	// RunOnCopy() on two threads of the worker at once; fails ("two runs at once gave different
	// results") unless both give the same.
	std::unique_ptr<BBitmap> RunOnCopyOnTwoThreads(BBitmap& copy, const OutputSink& output,
	                                               std::string& error);
	// Announces a Run() on `source`, whose pixels must be shared, before the caller has filled
	// them: the worker maps them, and memory for a result of the same size, while the caller
	// goes on. Mapping fresh memory into a process costs about as much as a filter's pass over
	// it; done now, it overlaps the caller's work. Nothing is waited for, and nothing is lost
	// when the worker cannot do it.
	void Prepare(const BBitmap& source);
	// Runs the filter on NULL; NULL with "produced no image" is the answer the contract asks for.
	std::unique_ptr<BBitmap> RunOnNull(const OutputSink& output, std::string& error);

private:
	AddonWorker(pid_t process, int socket, int output, const WorkerLimits& limits);
	AddonWorker(const AddonWorker&) = delete;
	AddonWorker& operator=(const AddonWorker&) = delete;

	struct Answer;
	std::unique_ptr<BBitmap> _Run(const BBitmap* source, uint32 flags, const OutputSink& output,
	                              std::string& error, double* seconds = NULL);
	bool _Await(Answer& answer, const OutputSink& output, std::string& error);
	std::unique_ptr<BBitmap> _TakeResult(Answer& answer, std::string& error);
	std::string _Ended(int forbiddenCall);
	void _LendBlock(uint64 length, bool cleared);
	void _Stop();

	std::shared_ptr<LentMemory> fMemory;
	pid_t fProcess;
	int fSocket;
	int fOutput;
	WorkerLimits fLimits;
	int32 fId;
	std::string fName;
	bool fLandlocked;
	uint32 fLoadedFlags;
	bool fLoaded = false;
};

// `problem` with the add-on file at `path` as a message: starting with the path. Loading's own
// messages name the file already; those of a worker that failed do not.
std::string AddonProblem(const std::string& path, const std::string& problem);

// The worker program beside the running program.
std::string WorkerProgramPath();

#endif // ADDON_WORKER_H
