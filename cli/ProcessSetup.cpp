#include "ProcessSetup.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TemporaryFiles.h"

namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Huge pages where malloc maps or grows memory; blocks up to 32 MiB (the most glibc allows) from
// its heap rather than mappings of their own; and up to 512 MiB of freed heap kept for the next
// buffer, which bounds what a long batch holds beyond its images.
const char* const kAllocatorSettings = "glibc.malloc.hugetlb=1:"
                                       "glibc.malloc.mmap_threshold=33554432:"
                                       "glibc.malloc.trim_threshold=536870912";

// Across the restart, the caller's GLIBC_TUNABLES: kWasSet followed by its value, or kWasUnset.
const char* const kCallersTunables = "QUIMBEL_CALLERS_TUNABLES";
const char* const kWasSet = "set:";
const char* const kWasUnset = "unset";

void RemoveThenEnd(int signal)
{
	RemoveTemporaryFiles();
	// With the default action back in place, the signal ends the process as if it had never
	// been caught.
	struct sigaction action = {};
	action.sa_handler = SIG_DFL;
	sigemptyset(&action.sa_mask);
	sigaction(signal, &action, NULL);
	sigset_t unblocked;
	sigemptyset(&unblocked);
	sigaddset(&unblocked, signal);
	pthread_sigmask(SIG_UNBLOCK, &unblocked, NULL);
	raise(signal);
}

// Gives GLIBC_TUNABLES back the caller's value, `callers` as kCallersTunables holds it, and
// forgets kCallersTunables.
void PutBackCallersTunables(std::string callers)
{
	unsetenv(kCallersTunables);
	if (callers.rfind(kWasSet, 0) == 0)
		setenv("GLIBC_TUNABLES", callers.c_str() + strlen(kWasSet), 1);
	else
		unsetenv("GLIBC_TUNABLES");
}

// Input bytes from which a restart for malloc's settings may pay for itself (it costs about as
// much as the program's own start): AVIF, HEIC and lossy WebP hold megapixels in a few hundred
// kilobytes.
const off_t kLargeInputs = 256 << 10;

char** sArguments = NULL;

// Whether `inputs` may hold images large enough for RestartForImages(): see there.
bool MayBeLarge(const std::vector<std::string>& inputs, bool listed)
{
	if (listed)
		return true;
	off_t total = 0;
	for (const std::string& input : inputs) {
		struct stat status;
		if (input == "-")
			return true;
		if (stat(input.c_str(), &status) != 0)
			continue;
		if (S_ISDIR(status.st_mode))
			return true;
		if (S_ISREG(status.st_mode))
			total += status.st_size;
		if (total >= kLargeInputs)
			return true;
	}
	return false;
}

// The GLIBC_TUNABLES to restart with, given those the program was started with (NULL when
// unset); empty when nothing is to change.
std::string TunedAllocatorSettings(const char* started)
{
	if (started == NULL || *started == '\0')
		return kAllocatorSettings;
	if (strstr(started, "glibc.malloc.hugetlb") != NULL)
		return std::string();
	// Of two settings of one tunable, glibc takes the last.
	return std::string(kAllocatorSettings) + ":" + started;
}

} // namespace

bool OpenClosedStandardStreams()
{
	for (int descriptor = 0; descriptor <= 2; descriptor++) {
		if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
			continue;
		// The lowest free descriptor is the one that is missing: those below it are open.
		int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
		if (opened != descriptor) {
			if (opened >= 0)
				close(opened);
			return false;
		}
	}
	return true;
}

void RemoveTemporaryFilesOnSignals()
{
	struct sigaction action = {};
	action.sa_handler = RemoveThenEnd;
	sigemptyset(&action.sa_mask);
	for (int signal : kEndingSignals)
		sigaddset(&action.sa_mask, signal);
	for (int signal : kEndingSignals) {
		struct sigaction previous;
		// A signal the caller chose to ignore stays ignored, as a shell's nohup expects.
		if (sigaction(signal, NULL, &previous) == 0 && previous.sa_handler == SIG_IGN)
			continue;
		sigaction(signal, &action, NULL);
	}
}

void KeepArguments(char** argv)
{
	sArguments = argv;
}

void RestartForImages(const std::vector<std::string>& inputs, bool listed)
{
#ifdef __GLIBC__
	// After the restart, the caller's own GLIBC_TUNABLES is put back, so that the workers and
	// their add-ons get the environment the program was given.
	const char* kept = getenv(kCallersTunables);
	if (kept != NULL) {
		PutBackCallersTunables(kept);
		return;
	}

	if (sArguments == NULL || !MayBeLarge(inputs, listed))
		return;
	const char* started = getenv("GLIBC_TUNABLES");
	std::string tuned = TunedAllocatorSettings(started);
	if (tuned.empty())
		return;
	std::string callers = started != NULL ? std::string(kWasSet) + started : kWasUnset;
	if (setenv(kCallersTunables, callers.c_str(), 1) != 0 ||
	    setenv("GLIBC_TUNABLES", tuned.c_str(), 1) != 0) {
		unsetenv(kCallersTunables);
		return;
	}
	// The program's own path, not /proc/self/exe, so that the restarted process keeps its name
	// in process lists.
	char program[PATH_MAX];
	ssize_t length = readlink("/proc/self/exe", program, sizeof(program) - 1);
	if (length > 0) {
		program[length] = '\0';
		execv(program, sArguments);
	}
	// No restart: go on as started.
	PutBackCallersTunables(callers);
#else
	(void)inputs;
	(void)listed;
#endif
}
