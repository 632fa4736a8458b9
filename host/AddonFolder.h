// Finding the filter add-ons in the folders searched and picking one by the name the user gives.
#ifndef ADDON_FOLDER_H
#define ADDON_FOLDER_H

#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "AddonCache.h"
#include "AddonLoader.h"
#include "AddonWorkers.h"

// One add-on of the folder. In this process it is loaded, and its filter object, which keeps it
// loaded, may run on several threads at once; otherwise its filter runs in worker processes.
struct AddonEntry {
	FilterPtr filter;
	std::shared_ptr<AddonWorkers> workers;
	std::string fileName;
	int32 id;
	std::string name;
	// The add-on file: fileName in the folder it was found in.
	std::string path;
};

// A folder searched for add-ons. One the user named on the command line must be readable; the
// others are passed over when they do not exist.
struct SearchFolder {
	std::string path;
	bool named;
};

// How a command uses the add-on folder, which decides what a file of the folder that is not a
// usable add-on means to it. The rule is the same for every command: each such file is
// reported; a command about every add-on (list, gallery) does all it can and then ends in
// failure; a command that needs only the add-ons it names (apply, info) is not affected.
enum class FolderUse {
	kEveryAddon,
	kNamedAddons,
};

class AddonFolder {
public:
	// The folder of the installation or build tree the running program belongs to:
	// <program folder>/../lib/quimbel/addons.
	static std::string DefaultPath();

	// The user's own add-on folder, ~/.local/lib/quimbel/addons, or empty without a home.
	static std::string UserPath();

	// The folders searched, in order: `chosen` (the command line's) when not empty, each folder
	// of the colon-separated `listed` (the environment's), the user's folder and DefaultPath().
	static std::vector<SearchFolder> SearchPath(const std::string& chosen,
	                                            const std::string& listed);

	// From now on, add-ons are loaded and run in worker processes with `limits`, never in this
	// one.
	void UseWorkers(const WorkerLimits& limits);

	// With workers, scans keep what they learn of each add-on in the cache file at `path` (see
	// AddonCache.h). With `reuse`, an add-on file unchanged since a scan that loaded it is taken
	// from there, and its worker starts only when its filter first runs; without, every file is
	// loaded again.
	void UseCache(const std::string& path, bool reuse);

	// Loads every add-on file of `folders`, in their order. Only ELF shared objects for this
	// machine are loaded at all. A filter with the name or id of one found in an earlier folder is
	// shadowed by it: left out, and listed by Shadowed(). Returns false and sets `error` when a
	// folder the user named cannot be read or no folder holds an add-on; files that are not
	// add-ons do not stop the scan, they are listed by Problems().
	bool Scan(const std::vector<SearchFolder>& folders, std::string& error);
	// The same for the one folder `path` (`path` empty: DefaultPath()).
	bool Scan(const std::string& path, std::string& error);

	// Whether some worker ran without the kernel confining its files (no Landlock).
	bool Unconfined() const { return fUnconfined; }

	// The folders that were read, in the order searched.
	const std::vector<std::string>& Folders() const { return fFolders; }
	// Those of each folder sorted by file name, the folders in the order searched.
	const std::vector<AddonEntry>& Entries() const { return fEntries; }
	// One line per add-on left out for one of an earlier folder with its name or id.
	const std::vector<std::string>& Shadowed() const { return fShadowed; }
	// One message per file of the folder that is not a usable add-on, each naming the file.
	const std::vector<std::string>& Problems() const { return fProblems; }
	// Whether Problems() make a command that uses the folder as `use` says end in failure.
	bool ProblemsFail(FolderUse use) const
	{
		return use == FolderUse::kEveryAddon && !fProblems.empty();
	}

	// The add-on that `filter` names: its display name (any case), its file name (any case) or its
	// id (a number, or a four-character code with or without single quotes). Returns NULL, sets
	// `error` and lists the add-ons to choose from in `choices`, one line each, when no add-on
	// or more than one matches; for no match, `error` names the closest display and file names.
	const AddonEntry* Match(const std::string& filter, std::string& error,
	                        std::vector<std::string>& choices) const;

private:
	// A file of the folder on its way to being an entry or a problem.
	struct Candidate {
		std::string name;
		std::string path;
		std::string problem;
		struct stat status;
		std::unique_ptr<AddonWorker> worker;
		// What the cache knows of it, when the file is unchanged since.
		bool fromCache;
		CachedAddon cached;
	};

	bool _ScanFolder(const SearchFolder& folder, std::string& error);
	bool _LoadInProcess(const std::string& path, const std::string& name);
	bool _LoadInWorker(Candidate& candidate);
	// Adds `entry` unless a filter of an earlier folder shadows it.
	void _Add(AddonEntry entry);

	bool fWorkers = false;
	WorkerLimits fLimits;
	AddonCache fCache;
	bool fReuseCache = false;
	bool fUnconfined = false;
	std::vector<std::string> fFolders;
	// Where the entries of the folder being read start.
	size_t fFolderStart = 0;
	std::vector<AddonEntry> fEntries;
	std::vector<std::string> fProblems;
	std::vector<std::string> fShadowed;
};

// An id as users write it: a four-character code as 'nega', anything else as a number.
std::string FormatFilterId(int32 id);

// "Negative" (Inverter): how host messages name a filter.
std::string DescribeFilter(const AddonEntry& entry);

#endif // ADDON_FOLDER_H
