// The workers that run one add-on's filter for a whole run: started as they are needed, one for
// each request running at once, kept between requests, and replaced after one fails. Each worker
// started must find the add-on the folder's scan found: one whose filter says another id or
// name fails its request.
#ifndef ADDON_WORKERS_H
#define ADDON_WORKERS_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AddonWorker.h"

class AddonWorkers {
public:
	// `first`, when not NULL, is a worker that has loaded the add-on already; `id` and `name` are
	// what the scan found.
	AddonWorkers(const std::string& path, const WorkerLimits& limits,
	             std::unique_ptr<AddonWorker> first, int32 id, const std::string& name);

	// Runs the filter on `source` in the worker this thread prepared, an idle one, or a new one;
	// see AddonWorker::Run(). Of the idle ones, the worker that ran last is taken first, so that
	// runs one after another find the add-on's caches and memory warm.
	std::unique_ptr<BBitmap> Run(const BBitmap& source, const OutputSink& output,
	                             std::string& error, double* seconds = NULL);

	// Sets a worker aside for this thread's next Run() and has it map `source` ahead, while the
	// caller is still filling it; see AddonWorker::Prepare(). When none is idle, one is started,
	// and loads its add-on meanwhile. Preparing again moves the worker on to the new source.
	void Prepare(const BBitmap& source);

private:
	std::unique_ptr<AddonWorker> _TakeWorker();
	// Waits until `worker` has loaded the add-on, which must be the one the scan found.
	bool _Loaded(AddonWorker& worker, const OutputSink& output, std::string& error);

	std::string fPath;
	WorkerLimits fLimits;
	int32 fId;
	std::string fName;
	std::mutex fLock;
	std::vector<std::unique_ptr<AddonWorker>> fIdle;
	// Workers set aside by Prepare(), by the thread they are set aside for.
	std::map<std::thread::id, std::unique_ptr<AddonWorker>> fPrepared;
};

// Whether the file at `path` is an ELF shared object for this machine, the only files loaded as
// add-ons; otherwise sets `error` to why not, without the path.
bool IsLoadableObject(const std::string& path, std::string& error);

#endif // ADDON_WORKERS_H
