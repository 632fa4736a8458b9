#include "StdoutCapture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::mutex sCaptureLock;

bool WriteAll(int fd, const char* data, size_t length)
{
	while (length > 0) {
		ssize_t written = write(fd, data, length);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return false;
		data += written;
		length -= written;
	}
	return true;
}

} // namespace

StdoutCapture::StdoutCapture() : fLock(sCaptureLock), fSavedOutput(-1), fStore(-1)
{
	fflush(stdout);
	int store = memfd_create("quimbel-stdout", MFD_CLOEXEC);
	if (store < 0)
		return;
	int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
	if (saved < 0 || dup2(store, STDOUT_FILENO) < 0) {
		if (saved >= 0)
			close(saved);
		close(store);
		return;
	}
	fSavedOutput = saved;
	fStore = store;
}

StdoutCapture::~StdoutCapture()
{
	Finish();
}

std::string StdoutCapture::Finish()
{
	if (fStore < 0)
		return std::string();

	_Restore();
	std::string kept;
	char buffer[16 * 1024];
	off_t offset = 0;
	bool passing = true;
	for (;;) {
		ssize_t count = pread(fStore, buffer, sizeof(buffer), offset);
		if (count < 0 && errno == EINTR)
			continue;
		if (count <= 0)
			break;
		offset += count;
		if (kept.size() < kMaxKept)
			kept.append(buffer, std::min((size_t)count, kMaxKept - kept.size()));
		passing = passing && WriteAll(STDOUT_FILENO, buffer, count);
	}
	close(fStore);
	fStore = -1;
	return kept;
}

void StdoutCapture::Discard()
{
	if (fStore < 0)
		return;
	_Restore();
	close(fStore);
	fStore = -1;
}

void StdoutCapture::_Restore()
{
	fflush(stdout);
	dup2(fSavedOutput, STDOUT_FILENO);
	close(fSavedOutput);
	fSavedOutput = -1;
}
