#include "AddonWorker.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <seccomp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SharedBitmap.h>

#include "WorkerChannel.h"

extern char** environ;

namespace {

// AddressSanitizer reserves terabytes of address space as it starts: a worker under it can have
// no address-space limit.
#if defined(__SANITIZE_ADDRESS__)
const bool kLimitAddressSpace = false;
// AddressSanitizer would catch an add-on's crash and end the worker as aborted; leaving the
// signal to the system keeps the cause the host reports the same in every build. The leak check
// at exit needs to trace the process, which the sandbox forbids.
const char* const kWorkerSanitizerOptions =
    ":handle_segv=0:handle_sigbus=0:handle_sigfpe=0:detect_leaks=0";
#else
const bool kLimitAddressSpace = true;
const char* const kWorkerSanitizerOptions = NULL;
#endif

// The environment a worker starts with: the host's, with kWorkerSanitizerOptions added.
std::vector<std::string> WorkerEnvironment()
{
	std::vector<std::string> environment;
	bool found = false;
	for (char** entry = environ; *entry != NULL; entry++) {
		std::string variable = *entry;
		if (kWorkerSanitizerOptions != NULL && variable.rfind("ASAN_OPTIONS=", 0) == 0) {
			variable += kWorkerSanitizerOptions;
			found = true;
		}
		environment.push_back(variable);
	}
	if (kWorkerSanitizerOptions != NULL && !found)
		environment.push_back(std::string("ASAN_OPTIONS=") + (kWorkerSanitizerOptions + 1));
	return environment;
}

// How a signal that ended a worker is named to the user.
std::string SignalName(int signal)
{
	switch (signal) {
	case SIGSEGV:
		return "segmentation fault";
	case SIGBUS:
		return "bus error";
	case SIGABRT:
		return "aborted";
	case SIGFPE:
		return "arithmetic error";
	case SIGILL:
		return "illegal instruction";
	case SIGKILL:
		return "killed";
	default:
		return "signal " + std::to_string(signal);
	}
}

std::string FailureText(const WorkerMessage& message)
{
	switch (message.failure) {
	case kFailureNoImage:
		return "produced no image";
	case kFailureException:
		return "raised an exception";
	case kFailureOutOfMemory:
		return "ran out of memory";
	case kFailureReturnedSource:
		return "returned its source image instead of a new one";
	default:
		return message.text;
	}
}

// A descriptor of the same shared pixels for a worker. Unless it is a copy lent for the
// purpose, the worker gets one that only reads: it cannot change the host's image.
int PassedDescriptor(int descriptor, bool writable)
{
	std::string path = "/proc/self/fd/" + std::to_string(descriptor);
	return open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
}

} // namespace

struct AddonWorker::Answer {
	WorkerMessage message;
	int descriptor = -1;
};

std::string AddonProblem(const std::string& path, const std::string& problem)
{
	return problem.rfind(path + ": ", 0) == 0 ? problem : path + ": " + problem;
}

std::string WorkerProgramPath()
{
	char buffer[PATH_MAX];
	ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
	if (length <= 0)
		return "quimbel-worker";
	std::string program(buffer, length);
	return program.substr(0, program.rfind('/') + 1) + "quimbel-worker";
}

AddonWorker::AddonWorker(pid_t process, int socket, int output, const WorkerLimits& limits)
    : fMemory(std::make_shared<LentMemory>()), fProcess(process), fSocket(socket), fOutput(output),
      fLimits(limits), fId(0), fLandlocked(false), fLoadedFlags(0)
{
}

AddonWorker::~AddonWorker()
{
	_Stop();
}

std::unique_ptr<AddonWorker> AddonWorker::Start(const std::string& path, const WorkerLimits& limits,
                                                const OutputSink& output, std::string& error)
{
	std::unique_ptr<AddonWorker> worker = Launch(path, limits, error);
	if (worker == NULL || !worker->WaitUntilLoaded(output, error))
		return NULL;
	return worker;
}

std::unique_ptr<AddonWorker> AddonWorker::Launch(const std::string& path,
                                                 const WorkerLimits& limits, std::string& error)
{
	std::string program = WorkerProgramPath();
	if (access(program.c_str(), X_OK) != 0) {
		error = "cannot start a worker: " + program + ": " + strerror(errno);
		return NULL;
	}
	int sockets[2];
	int pipes[2];
	if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
		error = std::string("cannot start a worker: ") + strerror(errno);
		return NULL;
	}
	if (pipe2(pipes, O_CLOEXEC) != 0) {
		error = std::string("cannot start a worker: ") + strerror(errno);
		close(sockets[0]);
		close(sockets[1]);
		return NULL;
	}
	std::vector<char*> arguments = {const_cast<char*>(program.c_str()),
	                                const_cast<char*>(path.c_str()), NULL};
	std::vector<std::string> environment = WorkerEnvironment();
	std::vector<char*> environmentPointers;
	for (std::string& variable : environment)
		environmentPointers.push_back(&variable[0]);
	environmentPointers.push_back(NULL);
	pid_t process = fork();
	if (process == 0) {
		// Only async-signal-safe calls between fork and exec: the host may have threads.
		int null = open("/dev/null", O_RDONLY);
		dup2(null, STDIN_FILENO);
		dup2(pipes[1], STDOUT_FILENO);
		dup2(sockets[1], kWorkerSocket);
		if (kLimitAddressSpace && limits.addressSpace > 0) {
			struct rlimit limit = {(rlim_t)limits.addressSpace, (rlim_t)limits.addressSpace};
			setrlimit(RLIMIT_AS, &limit);
		}
		execve(program.c_str(), arguments.data(), environmentPointers.data());
		_exit(127);
	}
	close(sockets[1]);
	close(pipes[1]);
	if (process < 0) {
		error = std::string("cannot start a worker: ") + strerror(errno);
		close(sockets[0]);
		close(pipes[0]);
		return NULL;
	}

	return std::unique_ptr<AddonWorker>(new AddonWorker(process, sockets[0], pipes[0], limits));
}

bool AddonWorker::WaitUntilLoaded(const OutputSink& output, std::string& error)
{
	Answer answer;
	if (!_Await(answer, output, error))
		return false;
	if (answer.message.kind != kWorkerLoaded) {
		error = answer.message.kind == kWorkerFailed ? answer.message.text
		                                             : "the worker answered out of turn";
		_Stop();
		return false;
	}
	answer.message.name[sizeof(answer.message.name) - 1] = '\0';
	fId = answer.message.id;
	fName = answer.message.name;
	fLandlocked = answer.message.failure == 0;
	fLoadedFlags = answer.message.flags;
	fLoaded = true;
	return true;
}

std::unique_ptr<BBitmap> AddonWorker::Run(const BBitmap& source, const OutputSink& output,
                                          std::string& error, double* seconds)
{
	return _Run(&source, 0, output, error, seconds);
}

std::unique_ptr<BBitmap> AddonWorker::RunOnCopy(BBitmap& copy, const OutputSink& output,
                                                std::string& error)
{
	return _Run(&copy, kRunOnWritableCopy, output, error);
}

std::unique_ptr<BBitmap> AddonWorker::RunOnCopyOnTwoThreads(BBitmap& copy, const OutputSink& output,
                                                            std::string& error)
{
	return _Run(&copy, kRunOnWritableCopy | kRunOnTwoThreads, output, error);
}

std::unique_ptr<BBitmap> AddonWorker::RunOnNull(const OutputSink& output, std::string& error)
{
	return _Run(NULL, kRunOnNull, output, error);
}

void AddonWorker::Prepare(const BBitmap& source)
{
	int descriptor = BPrivate::SharedBitmapDescriptor(source);
	if (descriptor < 0 || !IsAlive())
		return;
	int passed = PassedDescriptor(descriptor, false);
	if (passed < 0)
		return;
	WorkerMessage request = {};
	request.kind = kWorkerPrepare;
	request.length = (uint64)source.BitsLength();
	bool sent = SendWorkerMessage(fSocket, request, passed);
	close(passed);
	// Most filters give a result of their source's size; the block lent for it is the one the
	// worker's request will get.
	int spare = sent ? fMemory->Spare((size_t)source.BitsLength()) : -1;
	if (spare < 0)
		return;
	WorkerMessage block = {};
	block.kind = kWorkerBlock;
	block.length = request.length;
	SendWorkerMessage(fSocket, block, spare);
	close(spare);
}

// Sends the run request: `flags` as WorkerRunFlags, with the descriptor of `source` unless it is
// NULL.
std::unique_ptr<BBitmap> AddonWorker::_Run(const BBitmap* source, uint32 flags,
                                           const OutputSink& output, std::string& error,
                                           double* seconds)
{
	int descriptor = source != NULL ? BPrivate::SharedBitmapDescriptor(*source) : -1;
	if (source != NULL && descriptor < 0) {
		error = "cannot hand the image to the worker: its pixels are not shared";
		return NULL;
	}
	if (!IsAlive()) {
		error = "has no worker to run in";
		return NULL;
	}
	WorkerMessage request = {};
	request.kind = kWorkerRun;
	request.flags = flags;
	int passed = -1;
	if (source != NULL) {
		SetMessageLayout(request, *source);
		passed = PassedDescriptor(descriptor, (flags & kRunOnWritableCopy) != 0);
		if (passed < 0) {
			error = std::string("cannot hand the image to the worker: ") + strerror(errno);
			return NULL;
		}
	}
	bool sent = SendWorkerMessage(fSocket, request, passed);
	if (passed >= 0)
		close(passed);
	Answer answer;
	if (!sent) {
		error = _Ended(-1);
		return NULL;
	}
	if (!_Await(answer, output, error)) {
		fMemory->EndRequest();
		return NULL;
	}
	// Whatever the worker does not hand over as its result it no longer needs.
	std::unique_ptr<BBitmap> result = _TakeResult(answer, error);
	fMemory->EndRequest();
	if (result != NULL && seconds != NULL)
		*seconds = answer.message.runNanoseconds / 1e9;
	return result;
}

std::unique_ptr<BBitmap> AddonWorker::_TakeResult(Answer& answer, std::string& error)
{
	if (answer.message.kind != kWorkerResult && answer.descriptor >= 0)
		close(answer.descriptor);
	if (answer.message.kind == kWorkerFailed) {
		error = FailureText(answer.message);
		return NULL;
	}
	if (answer.message.kind != kWorkerResult || answer.descriptor < 0) {
		error = "answered out of turn";
		_Stop();
		return NULL;
	}
	BRect resultBounds(answer.message.left, answer.message.top, answer.message.right,
	                   answer.message.bottom);
	std::unique_ptr<BBitmap> result(
	    fMemory->Claim(answer.descriptor, resultBounds, (color_space)answer.message.space));
	if (result == NULL) {
		error = "returned a bitmap whose pixels are not its own or do not match its bounds";
		return NULL;
	}
	return result;
}

// Waits for the worker's next message, passing on what it prints meanwhile. When the worker
// ends, is stopped for taking too long, or sends no whole message, returns false with `error`.
bool AddonWorker::_Await(Answer& answer, const OutputSink& output, std::string& error)
{
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(fLimits.timeoutSeconds);
	struct pollfd streams[2] = {{fSocket, POLLIN, 0}, {fOutput, POLLIN, 0}};
	for (;;) {
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
		    deadline - std::chrono::steady_clock::now());
		if (left.count() <= 0) {
			_Stop();
			error = "was stopped after " + std::to_string(fLimits.timeoutSeconds) + " s";
			return false;
		}
		int ready = poll(streams, streams[1].fd >= 0 ? 2 : 1, (int)left.count());
		if (ready < 0 && errno != EINTR) {
			error = std::string("cannot hear from the worker: ") + strerror(errno);
			_Stop();
			return false;
		}
		if (ready <= 0)
			continue;
		if (streams[1].fd >= 0 && streams[1].revents != 0) {
			char buffer[65536];
			ssize_t count = read(fOutput, buffer, sizeof(buffer));
			if (count > 0 && output)
				output(buffer, count);
			if (count > 0)
				continue;
			streams[1].fd = -1;
		}
		if (streams[0].revents == 0)
			continue;
		if (!ReceiveWorkerMessage(fSocket, answer.message, answer.descriptor)) {
			error = _Ended(-1);
			return false;
		}
		if (answer.message.kind == kWorkerForbidden) {
			error = _Ended(answer.message.call);
			return false;
		}
		if (answer.message.kind == kWorkerAllocate) {
			if (answer.descriptor >= 0)
				close(answer.descriptor);
			_LendBlock(answer.message.length, (answer.message.flags & kAllocateUncleared) == 0);
			continue;
		}
		// What the worker printed before it answered is all in the pipe now.
		char buffer[65536];
		ssize_t count;
		while (streams[1].fd >= 0 && poll(&streams[1], 1, 0) > 0 &&
		       (count = read(fOutput, buffer, sizeof(buffer))) > 0) {
			if (output)
				output(buffer, count);
		}
		return true;
	}
}

// Answers a worker's request for memory; a block that cannot be had is answered without a
// descriptor, which the worker takes as memory it could not get.
void AddonWorker::_LendBlock(uint64 length, bool cleared)
{
	WorkerMessage answer = {};
	answer.kind = kWorkerBlock;
	int descriptor = length > 0 && length <= (uint64)BBitmap::kMaxBitsLength
	                     ? fMemory->Lend((size_t)length, cleared)
	                     : -1;
	SendWorkerMessage(fSocket, answer, descriptor);
	if (descriptor >= 0)
		close(descriptor);
}

// Reaps a worker that has ended and says how it ended.
std::string AddonWorker::_Ended(int forbiddenCall)
{
	int status = 0;
	pid_t process = fProcess;
	if (forbiddenCall < 0)
		kill(process, SIGKILL);
	fProcess = -1;
	while (waitpid(process, &status, 0) < 0 && errno == EINTR) {
	}
	close(fSocket);
	close(fOutput);
	fSocket = -1;
	fOutput = -1;
	if (forbiddenCall >= 0) {
		char* name = seccomp_syscall_resolve_num_arch(SCMP_ARCH_NATIVE, forbiddenCall);
		std::string call = name != NULL ? name : "system call " + std::to_string(forbiddenCall);
		free(name);
		return "was stopped for calling " + call;
	}
	if (WIFSIGNALED(status))
		return "crashed (" + SignalName(WTERMSIG(status)) + ")";
	return "exited";
}

void AddonWorker::_Stop()
{
	if (fProcess <= 0)
		return;
	kill(fProcess, SIGKILL);
	while (waitpid(fProcess, NULL, 0) < 0 && errno == EINTR) {
	}
	fProcess = -1;
	close(fSocket);
	close(fOutput);
	fSocket = -1;
	fOutput = -1;
}
