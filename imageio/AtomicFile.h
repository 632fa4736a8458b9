// A file that appears complete or not at all: written to a temporary file in the destination's
// folder, which Commit() flushes, syncs and renames over the destination. Every file the
// program writes goes through here, so that all of them get the same names while they are
// written, the same permissions and the same guarantees.
#ifndef ATOMIC_FILE_H
#define ATOMIC_FILE_H

#include <cstdio>
#include <string>

#include <SupportDefs.h>

class AtomicFile {
public:
	// Creates the temporary file, ".quimbel-XXXXXX" beside `path`, readable by its owner only
	// until Commit(). On failure InitCheck() is not B_OK and Error() says why.
	explicit AtomicFile(const std::string& path);
	// Removes the temporary file unless Commit() has put it in place.
	~AtomicFile();

	status_t InitCheck() const { return fFile != NULL ? B_OK : B_ERROR; }
	// What went wrong, without the path.
	const std::string& Error() const { return fError; }

	// The stream to write the contents to.
	FILE* File() const { return fFile; }

	// Flushes and syncs the data, gives the file the permissions of a newly created one (0666
	// less the umask), renames it over the destination and syncs the folder, so that the rename
	// lasts too. On failure the destination is untouched, the temporary file is gone and Error()
	// says what went wrong.
	bool Commit();

private:
	AtomicFile(const AtomicFile&) = delete;
	AtomicFile& operator=(const AtomicFile&) = delete;

	bool _Fail(const std::string& what);
	void _Discard();

	std::string fPath;
	std::string fFolder;
	std::string fTemporaryPath;
	FILE* fFile;
	std::string fError;
};

// Writes `contents` to `path` through an AtomicFile. Returns false and sets `error`, starting
// with the path, on failure; an existing file at `path` is then kept as it was.
bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error);

#endif // ATOMIC_FILE_H
