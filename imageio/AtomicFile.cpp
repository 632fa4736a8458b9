// Writing a file through a temporary file, fsync and rename.
#include "AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t kBufferSize = 256 * 1024;

// The process's umask, read without changing it: umask() itself would set it, which other
// threads creating files at that moment would notice.
mode_t CurrentUmask()
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line)) {
		if (line.compare(0, 6, "Umask:") == 0)
			return (mode_t)strtoul(line.c_str() + 6, NULL, 8);
	}
	return 022;
}

} // namespace

AtomicFile::AtomicFile(const std::string& path) : fPath(path), fFile(NULL)
{
	size_t slash = path.rfind('/');
	fFolder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
	fTemporaryPath = (slash == std::string::npos ? "" : fFolder) + ".quimbel-XXXXXX";

	std::vector<char> name(fTemporaryPath.begin(), fTemporaryPath.end());
	name.push_back('\0');
	int descriptor = mkostemp(name.data(), O_CLOEXEC);
	if (descriptor < 0) {
		fError = "cannot create a file in " + fFolder + ": " + strerror(errno);
		fTemporaryPath.clear();
		return;
	}
	fTemporaryPath = name.data();
	fFile = fdopen(descriptor, "wb");
	if (fFile == NULL) {
		fError = std::string("cannot write: ") + strerror(errno);
		close(descriptor);
		_Discard();
		return;
	}
	setvbuf(fFile, NULL, _IOFBF, kBufferSize);
}

AtomicFile::~AtomicFile()
{
	_Discard();
}

bool AtomicFile::Commit()
{
	if (fFile == NULL)
		return false;
	if (fflush(fFile) != 0 || ferror(fFile))
		return _Fail("cannot write");
	int descriptor = fileno(fFile);
	if (fchmod(descriptor, 0666 & ~CurrentUmask()) != 0)
		return _Fail("cannot set permissions");
	if (fsync(descriptor) != 0)
		return _Fail("cannot write");
	FILE* file = fFile;
	fFile = NULL;
	if (fclose(file) != 0)
		return _Fail("cannot write");
	if (rename(fTemporaryPath.c_str(), fPath.c_str()) != 0)
		return _Fail("cannot replace the file");
	fTemporaryPath.clear();

	// The rename itself lasts only once the folder is synced too.
	int folder = open(fFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (folder >= 0) {
		fsync(folder);
		close(folder);
	}
	return true;
}

bool AtomicFile::_Fail(const std::string& what)
{
	fError = what + ": " + strerror(errno);
	_Discard();
	return false;
}

void AtomicFile::_Discard()
{
	if (fFile != NULL) {
		fclose(fFile);
		fFile = NULL;
	}
	if (!fTemporaryPath.empty()) {
		unlink(fTemporaryPath.c_str());
		fTemporaryPath.clear();
	}
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error)
{
	AtomicFile file(path);
	if (file.InitCheck() != B_OK) {
		error = path + ": " + file.Error();
		return false;
	}
	if (fwrite(contents.data(), 1, contents.size(), file.File()) != contents.size()) {
		error = path + ": cannot write: " + strerror(errno);
		return false;
	}
	if (!file.Commit()) {
		error = path + ": " + file.Error();
		return false;
	}
	return true;
}
