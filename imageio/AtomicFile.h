// A file that appears complete or not at all: written to a temporary file in the destination's
// folder, which Commit() flushes, syncs and renames over the destination. Every file the
// program writes goes through here, so that all of them get the same names while they are
// written, the same permissions and the same guarantees.
#ifndef ATOMIC_FILE_H
#define ATOMIC_FILE_H

#include <cstdio>
#include <string>

#include <sys/types.h>

#include <SupportDefs.h>

// Whether an existing file may be replaced.
enum class Existing {
	kKeep,
	kReplace,
};

class AtomicFile {
public:
	// Prepares to write `path`. A symbolic link there stays: the file it leads to is what gets
	// written. An existing destination that is no regular file, or any existing destination
	// when `existing` is kKeep, is refused. The temporary file, ".quimbel-XXXXXX" beside the
	// destination, is readable by its owner only until Commit(), and is removed should a signal
	// end the process (see TemporaryFiles.h). On failure InitCheck() is not B_OK and Error() says
	// why.
	AtomicFile(const std::string& path, Existing existing);
	// Removes the temporary file unless Commit() has put it in place.
	~AtomicFile();

	status_t InitCheck() const { return fFile != NULL ? B_OK : B_ERROR; }
	// What went wrong, without the path.
	const std::string& Error() const { return fError; }

	// The stream to write the contents to.
	FILE* File() const { return fFile; }

	// Flushes and syncs the data and gives the file its permissions: those of the file it
	// replaces, with its owner and group where the process may set them, or those of a new file
	// (0666 less the umask). Then renames it over the destination and syncs the folder, so that
	// the rename lasts too. With kKeep, a file that appeared at the destination meanwhile is
	// not replaced. On failure the destination is untouched, the temporary file is gone and
	// Error() says what went wrong.
	bool Commit();

private:
	AtomicFile(const AtomicFile&) = delete;
	AtomicFile& operator=(const AtomicFile&) = delete;

	bool _CheckDestination();
	bool _CreateTemporary();
	bool _SetPermissions(int descriptor);
	bool _Rename();
	bool _Fail(const std::string& what);
	void _Discard();

	std::string fTarget;
	std::string fFolder;
	Existing fExisting;
	bool fReplaces;
	mode_t fMode;
	uid_t fOwner;
	gid_t fGroup;
	std::string fTemporaryPath;
	int fSlot;
	FILE* fFile;
	std::string fError;
};

// The file `path` leads to after following symbolic links, relative links taken from their
// own folder; `path` itself when it is no link. A link that leads nowhere gives where it leads.
std::string FinalTarget(const std::string& path);

// Writes `contents` to `path` through an AtomicFile. Returns false and sets `error`, starting
// with the path, on failure; an existing file at `path` is then kept as it was.
bool WriteFileAtomically(const std::string& path, const std::string& contents, Existing existing,
                         std::string& error);

#endif // ATOMIC_FILE_H
