// What scans of the add-on folders learnt of each add-on file, kept between runs: the id and
// display name its worker reported, with the file's identity at the time (device, inode, size,
// modification and change times). A command then starts a worker only for the add-ons it runs,
// not one for every file to learn their names. Any change to a file, even one that keeps its
// size and modification time, changes its change time, and the file is loaded again.
//
// The file, one line per add-on after a line naming the format, with paths and names in
// hexadecimal so that no byte of theirs needs escaping:
//   quimbel-addon-cache 1
//   <path> <device> <inode> <size> <modified ns> <changed ns> <id> <name>
#ifndef ADDON_CACHE_H
#define ADDON_CACHE_H

#include <string>
#include <vector>

#include <sys/stat.h>

#include <SupportDefs.h>

struct CachedAddon {
	std::string path;
	uint64 device;
	uint64 inode;
	uint64 size;
	int64 modified;
	int64 changed;
	int32 id;
	std::string name;
};

class AddonCache {
public:
	// $XDG_CACHE_HOME/quimbel/addons, else ~/.cache/quimbel/addons; empty without either.
	static std::string DefaultPath();

	// Reads the cache file at `path`, which Save() writes back; a missing, unreadable or
	// damaged file gives an empty cache.
	void Load(const std::string& path);

	// The entries `text` holds; false, with none kept, when it is no whole cache file.
	bool Parse(const std::string& text);
	std::string Format() const;
	const std::vector<CachedAddon>& Entries() const { return fEntries; }

	// The entry for the add-on file at `path`, which is as `status` says now; NULL when there is
	// none or the file has changed since.
	const CachedAddon* Find(const std::string& path, const struct stat& status) const;
	// What the worker of the add-on file at `path`, as `status` said before it was loaded,
	// reported; replaces any earlier entry.
	void Remember(const std::string& path, const struct stat& status, int32 id,
	              const std::string& name);
	// The file at `path` is no usable add-on (any longer).
	void Forget(const std::string& path);

	// Writes the cache back if it changed, whole or not at all, leaving out the entries of
	// files that are gone. Failing to is no error: the next run loads the add-ons again.
	void Save();

private:
	std::string fPath;
	std::vector<CachedAddon> fEntries;
	bool fChanged = false;
};

#endif // ADDON_CACHE_H
