#include "AddonWorkers.h"

#include "AddonFolder.h"

#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

AddonWorkers::AddonWorkers(const std::string& path, const WorkerLimits& limits,
                           std::unique_ptr<AddonWorker> first, int32 id, const std::string& name)
    : fPath(path), fLimits(limits), fId(id), fName(name)
{
	if (first != NULL)
		fIdle.push_back(std::move(first));
}

// The worker prepared for this thread, or an idle one; NULL when there is none.
std::unique_ptr<AddonWorker> AddonWorkers::_TakeWorker()
{
	std::lock_guard<std::mutex> lock(fLock);
	std::unique_ptr<AddonWorker> worker;
	auto prepared = fPrepared.find(std::this_thread::get_id());
	if (prepared != fPrepared.end()) {
		worker = std::move(prepared->second);
		fPrepared.erase(prepared);
	} else if (!fIdle.empty()) {
		worker = std::move(fIdle.back());
		fIdle.pop_back();
	}
	return worker;
}

void AddonWorkers::Prepare(const BBitmap& source)
{
	std::unique_ptr<AddonWorker> worker = _TakeWorker();
	// A new worker is not waited for: it takes the announcement once its add-on is loaded, while
	// the caller goes on, and Run() waits for it.
	if (worker == NULL) {
		std::string ignored;
		worker = AddonWorker::Launch(fPath, fLimits, ignored);
		if (worker == NULL)
			return;
	}
	worker->Prepare(source);
	std::lock_guard<std::mutex> lock(fLock);
	fPrepared[std::this_thread::get_id()] = std::move(worker);
}

bool AddonWorkers::_Loaded(AddonWorker& worker, const OutputSink& output, std::string& error)
{
	if (worker.IsLoaded())
		return true;
	if (!worker.WaitUntilLoaded(output, error))
		return false;
	if (worker.Id() == fId && worker.Name() == fName)
		return true;
	error = "is no longer the add-on found when the folder was read: it now says it is \"" +
	        worker.Name() + "\" (id " + FormatFilterId(worker.Id()) +
	        "); run quimbel list to read the folder again";
	return false;
}

std::unique_ptr<BBitmap> AddonWorkers::Run(const BBitmap& source, const OutputSink& output,
                                           std::string& error, double* seconds)
{
	std::unique_ptr<AddonWorker> worker = _TakeWorker();
	if (worker == NULL)
		worker = AddonWorker::Launch(fPath, fLimits, error);
	if (worker == NULL || !_Loaded(*worker, output, error))
		return NULL;
	std::unique_ptr<BBitmap> result = worker->Run(source, output, error, seconds);
	if (worker->IsAlive()) {
		std::lock_guard<std::mutex> lock(fLock);
		fIdle.push_back(std::move(worker));
	}
	return result;
}

bool IsLoadableObject(const std::string& path, std::string& error)
{
	int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (descriptor < 0) {
		error = std::string("cannot read: ") + strerror(errno);
		return false;
	}
	Elf64_Ehdr header;
	ssize_t got = read(descriptor, &header, sizeof(header));
	close(descriptor);
	bool loadable =
	    got == (ssize_t)sizeof(header) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
	    header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == ELFDATA2LSB &&
	    header.e_type == ET_DYN && header.e_machine == EM_X86_64;
	if (!loadable)
		error = "not a loadable add-on: no shared object for this machine";
	return loadable;
}
