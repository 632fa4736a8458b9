#include "ProcessSetup.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "TemporaryFiles.h"

namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

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
