// The workers that run one add-on's filter for a whole run: started as they are needed, one for
// each request running at once, kept between requests, and replaced after one fails.
#ifndef ADDON_WORKERS_H
#define ADDON_WORKERS_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AddonWorker.h"

class AddonWorkers {
public:
	AddonWorkers(const std::string& path, const WorkerLimits& limits,
	             std::unique_ptr<AddonWorker> first);

	// Runs the filter on `source` in an idle worker, or a new one; see AddonWorker::Run(). The
	// worker that ran last is the first taken again, so that runs one after another find the
	// add-on's caches and memory warm.
	std::unique_ptr<BBitmap> Run(const BBitmap& source, const OutputSink& output,
	                             std::string& error, double* seconds = NULL);

private:
	std::string fPath;
	WorkerLimits fLimits;
	std::mutex fLock;
	std::vector<std::unique_ptr<AddonWorker>> fIdle;
};

// Whether the file at `path` is an ELF shared object for this machine, the only files loaded as
// add-ons; otherwise sets `error` to why not, without the path.
bool IsLoadableObject(const std::string& path, std::string& error);

#endif // ADDON_WORKERS_H
