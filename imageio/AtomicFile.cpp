// Writing a file through a temporary file, fsync and rename.
#include "AtomicFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TemporaryFiles.h"

namespace {

const size_t kBufferSize = 256 * 1024;
// As many links as the kernel follows in one path.
const int kMaxLinks = 40;

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

std::string FolderOf(const std::string& path)
{
	size_t slash = path.rfind('/');
	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : path.substr(0, slash);
}

// The signals that end the process after it has removed its temporary files. They are held
// back while a temporary file is made and recorded, so that none escapes the record.
class TerminationSignalsBlocked {
public:
	TerminationSignalsBlocked()
	{
		sigset_t signals;
		sigemptyset(&signals);
		for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
			sigaddset(&signals, signal);
		pthread_sigmask(SIG_BLOCK, &signals, &fSaved);
	}
	~TerminationSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &fSaved, NULL); }

private:
	sigset_t fSaved;
};

} // namespace

std::string FinalTarget(const std::string& path)
{
	std::string target = path;
	for (int i = 0; i < kMaxLinks; i++) {
		char buffer[4096];
		ssize_t length = readlink(target.c_str(), buffer, sizeof(buffer));
		if (length < 0 || length == (ssize_t)sizeof(buffer))
			return target;
		std::string next(buffer, length);
		target = next[0] == '/' ? next : FolderOf(target) + "/" + next;
	}
	return target;
}

AtomicFile::AtomicFile(const std::string& path, Existing existing)
    : fTarget(FinalTarget(path)), fFolder(FolderOf(fTarget)), fExisting(existing), fReplaces(false),
      fMode(0), fOwner(0), fGroup(0), fSlot(-1), fFile(NULL)
{
	if (!_CheckDestination() || !_CreateTemporary())
		return;
	setvbuf(fFile, NULL, _IOFBF, kBufferSize);
}

AtomicFile::~AtomicFile()
{
	_Discard();
}

bool AtomicFile::_CheckDestination()
{
	struct stat status;
	if (stat(fTarget.c_str(), &status) != 0) {
		if (errno == ENOENT)
			return true;
		fError = std::string("cannot write: ") + strerror(errno);
		return false;
	}
	if (S_ISDIR(status.st_mode)) {
		fError = "is a folder";
		return false;
	}
	if (!S_ISREG(status.st_mode)) {
		fError = "is not a regular file; not replacing it";
		return false;
	}
	if (fExisting == Existing::kKeep) {
		fError = "exists; not replacing it";
		return false;
	}
	fReplaces = true;
	fMode = status.st_mode & 07777;
	fOwner = status.st_uid;
	fGroup = status.st_gid;
	return true;
}

bool AtomicFile::_CreateTemporary()
{
	std::string pattern = fFolder + "/.quimbel-XXXXXX";
	std::vector<char> name(pattern.begin(), pattern.end());
	name.push_back('\0');

	TerminationSignalsBlocked blocked;
	int descriptor = mkostemp(name.data(), O_CLOEXEC);
	if (descriptor < 0) {
		fError = "cannot create a file in " + fFolder + ": " + strerror(errno);
		return false;
	}
	fTemporaryPath = name.data();
	fSlot = RememberTemporaryFile(name.data());
	fFile = fdopen(descriptor, "wb");
	if (fFile == NULL) {
		fError = std::string("cannot write: ") + strerror(errno);
		close(descriptor);
		_Discard();
		return false;
	}
	return true;
}

bool AtomicFile::Commit()
{
	if (fFile == NULL)
		return false;
	if (fflush(fFile) != 0 || ferror(fFile))
		return _Fail("cannot write");
	int descriptor = fileno(fFile);
	if (!_SetPermissions(descriptor))
		return false;
	if (fsync(descriptor) != 0)
		return _Fail("cannot write");
	FILE* file = fFile;
	fFile = NULL;
	if (fclose(file) != 0)
		return _Fail("cannot write");
	if (!_Rename())
		return false;
	ForgetTemporaryFile(fSlot);
	fSlot = -1;
	fTemporaryPath.clear();

	// The rename itself lasts only once the folder is synced too.
	int folder = open(fFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (folder >= 0) {
		fsync(folder);
		close(folder);
	}
	return true;
}

bool AtomicFile::_SetPermissions(int descriptor)
{
	mode_t mode = fReplaces ? fMode : 0666 & ~CurrentUmask();
	if (fReplaces && fchown(descriptor, fOwner, fGroup) != 0) {
		// Another owner or group than the process's own may be out of reach; the file then
		// keeps the process's, without set-id bits that would now mean something else.
		mode &= ~(mode_t)(S_ISUID | S_ISGID);
	}
	if (fchmod(descriptor, mode) != 0)
		return _Fail("cannot set permissions");
	return true;
}

bool AtomicFile::_Rename()
{
	if (fExisting == Existing::kReplace) {
		if (rename(fTemporaryPath.c_str(), fTarget.c_str()) != 0)
			return _Fail("cannot replace the file");
		return true;
	}
	if (renameat2(AT_FDCWD, fTemporaryPath.c_str(), AT_FDCWD, fTarget.c_str(), RENAME_NOREPLACE) ==
	    0)
		return true;
	// Some file systems cannot rename without replacing; a hard link is made only where no
	// file is, and then the temporary name goes.
	if (errno == EINVAL && link(fTemporaryPath.c_str(), fTarget.c_str()) == 0) {
		unlink(fTemporaryPath.c_str());
		return true;
	}
	if (errno == EEXIST) {
		_Discard();
		fError = "appeared while it was being written; not replacing it";
		return false;
	}
	return _Fail("cannot create the file");
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
	ForgetTemporaryFile(fSlot);
	fSlot = -1;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, Existing existing,
                         std::string& error)
{
	AtomicFile file(path, existing);
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
