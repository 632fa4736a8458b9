// A file that appears complete or not at all: written to a temporary file in the destination's
// folder, which Commit() flushes, syncs and renames over the destination.
#ifndef ATOMIC_FILE_H
#define ATOMIC_FILE_H

#include <cstdio>
#include <string>

#include <SupportDefs.h>

class AtomicFile {
public:
	// Creates the temporary file. On failure InitCheck() is not B_OK and Error() says why.
	AtomicFile(const std::string& path);
	// Removes the temporary file unless Commit() has put it in place.
	~AtomicFile();

	status_t InitCheck() const { return fFile != NULL ? B_OK : B_ERROR; }
	const std::string& Error() const { return fError; }

	// The stream to write the contents to.
	FILE* File() const { return fFile; }

	// Flushes and syncs the data, gives the file the permissions of a newly created one and
	// renames it over the destination. On failure the destination is untouched, the temporary
	// file is gone and Error() says what went wrong.
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

#endif // ATOMIC_FILE_H
