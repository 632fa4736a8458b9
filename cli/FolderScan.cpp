#include "FolderScan.h"

#include <cstdlib>

#include "MemoryBudget.h"
#include "Messages.h"

// The address space a worker may take: the run's memory budget, and room for its code and the
// add-on's own needs.
static int64 WorkerAddressSpace(const HostOptions& options)
{
	const int64 kCodeAndHeap = (int64)512 * 1024 * 1024;
	int64 budget = options.maxMemory > 0 ? options.maxMemory : MemoryBudget::DefaultSize();
	return budget + kCodeAndHeap;
}

WorkerLimits WorkerLimitsFor(const HostOptions& options)
{
	WorkerLimits limits;
	limits.addressSpace = WorkerAddressSpace(options);
	limits.timeoutSeconds = options.timeoutSeconds;
	return limits;
}

bool ScanAndReport(AddonFolder& folder, const HostOptions& options, bool afresh)
{
	if (!options.inProcess) {
		folder.UseWorkers(WorkerLimitsFor(options));
		folder.UseCache(AddonCache::DefaultPath(), !afresh);
	}
	std::string error;
	const char* listed = getenv("QUIMBEL_ADDONS");
	bool found = folder.Scan(
	    AddonFolder::SearchPath(options.addonFolder, listed != NULL ? listed : ""), error);
	for (const std::string& problem : folder.Problems())
		ReportError(problem);
	if (!found)
		ReportError(error);
	if (afresh && folder.Unconfined()) {
		ReportError("this kernel has no Landlock: add-ons run in workers that can still read every "
		            "file you can (they write none)");
	}
	return found;
}
