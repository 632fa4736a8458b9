#include "Sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <link.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "WorkerChannel.h"

// Landlock's later rights, by their numbers in the kernel's interface, for headers older than
// the kernels that have them.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace {

int sReportSocket = -1;

// Tells the host which call the filter refused, then ends the worker. Only async-signal-safe
// calls, all of them allowed by every filter stage.
void ReportForbiddenCall(int, siginfo_t* info, void*)
{
	WorkerMessage message = {};
	message.kind = kWorkerForbidden;
	message.call = info->si_syscall;
	SendWorkerMessage(sReportSocket, message);
	_exit(126);
}

bool InstallReporter(std::string& error)
{
	struct sigaction action = {};
	action.sa_sigaction = ReportForbiddenCall;
	action.sa_flags = SA_SIGINFO;
	sigemptyset(&action.sa_mask);
	if (sigaction(SIGSYS, &action, NULL) != 0) {
		error = std::string("cannot catch SIGSYS: ") + strerror(errno);
		return false;
	}
	return true;
}

// The rights Landlock can take away on every kernel that has it; those of later versions are
// added when the kernel knows them.
__u64 HandledRights(long abi)
{
	__u64 rights =
	    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
	    LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR |
	    LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
	    LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
	    LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
	if (abi >= 2)
		rights |= LANDLOCK_ACCESS_FS_REFER;
	if (abi >= 3)
		rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
	return rights;
}

int CollectLibraryFolder(struct dl_phdr_info* info, size_t, void* data)
{
	std::set<std::string>* folders = static_cast<std::set<std::string>*>(data);
	std::string path = info->dlpi_name != NULL ? info->dlpi_name : "";
	size_t slash = path.rfind('/');
	if (slash != std::string::npos && slash > 0)
		folders->insert(path.substr(0, slash));
	return 0;
}

// Read-only access to `path` and what lies beneath it; a path that does not exist is passed
// over.
bool AllowReading(int ruleset, const std::string& path, bool isFile, std::string& error)
{
	int descriptor = open(path.c_str(), O_PATH | O_CLOEXEC);
	if (descriptor < 0)
		return true;
	struct landlock_path_beneath_attr rule = {};
	rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_EXECUTE;
	if (!isFile)
		rule.allowed_access |= LANDLOCK_ACCESS_FS_READ_DIR;
	rule.parent_fd = descriptor;
	long added = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
	int saved = errno;
	close(descriptor);
	if (added != 0) {
		error = "cannot let the worker read " + path + ": " + strerror(saved);
		return false;
	}
	return true;
}

bool RestrictFiles(const std::string& addonPath, bool& landlocked, std::string& error)
{
	long abi = syscall(SYS_landlock_create_ruleset, NULL, 0, LANDLOCK_CREATE_RULESET_VERSION);
	landlocked = abi >= 1;
	if (!landlocked)
		return true;

	struct landlock_ruleset_attr attributes = {};
	attributes.handled_access_fs = HandledRights(abi);
	int ruleset = (int)syscall(SYS_landlock_create_ruleset, &attributes, sizeof(attributes), 0);
	if (ruleset < 0) {
		error = std::string("cannot make a Landlock rule set: ") + strerror(errno);
		return false;
	}
	std::set<std::string> folders = {"/lib", "/lib64", "/usr/lib", "/usr/lib64",
	                                 "/etc/ld.so.cache"};
	dl_iterate_phdr(CollectLibraryFolder, &folders);
#ifdef QUIMBEL_WORKER_UNDER_SANITIZERS
	// The sanitizer runtime reads the process's own maps and symbolizes from there.
	folders.insert("/proc");
#endif
	bool allowed = AllowReading(ruleset, addonPath, true, error);
	for (const std::string& folder : folders) {
		bool isFile = folder == "/etc/ld.so.cache";
		allowed = allowed && AllowReading(ruleset, folder, isFile, error);
	}
	if (allowed && syscall(SYS_landlock_restrict_self, ruleset, 0) != 0) {
		error = std::string("cannot restrict the worker's files: ") + strerror(errno);
		allowed = false;
	}
	close(ruleset);
	return allowed;
}

bool LoadFilter(scmp_filter_ctx filter, std::string& error)
{
	int result = seccomp_load(filter);
	seccomp_release(filter);
	if (result != 0) {
		error = std::string("cannot load the system-call filter: ") + strerror(-result);
		return false;
	}
	return true;
}

// Calls no filter ever needs: other processes, networks, new programs, the system's state.
const int kForbiddenCalls[] = {
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(kill),
    SCMP_SYS(tkill),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(chroot),
    SCMP_SYS(pivot_root),
    SCMP_SYS(setns),
    SCMP_SYS(unshare),
    SCMP_SYS(reboot),
    SCMP_SYS(kexec_load),
    SCMP_SYS(init_module),
    SCMP_SYS(finit_module),
    SCMP_SYS(delete_module),
    SCMP_SYS(bpf),
    SCMP_SYS(perf_event_open),
    SCMP_SYS(keyctl),
    SCMP_SYS(add_key),
    SCMP_SYS(request_key),
    SCMP_SYS(userfaultfd),
    SCMP_SYS(io_uring_setup),
};

// What running a filter needs once the add-on is loaded. Nothing that changes a file's size:
// the host reads the memory it lends after the worker has had its descriptor.
const int kRunningCalls[] = {
    SCMP_SYS(read),
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(fstat),
    SCMP_SYS(newfstatat),
    SCMP_SYS(lseek),
    SCMP_SYS(mmap),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    SCMP_SYS(brk),
    SCMP_SYS(futex),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
    SCMP_SYS(clock_gettime),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(nanosleep),
    SCMP_SYS(sendmsg),
    SCMP_SYS(recvmsg),
    SCMP_SYS(close),
    SCMP_SYS(fcntl),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(getrandom),
    SCMP_SYS(sched_yield),
    // The watch on the host's socket, should a signal interrupt it.
    SCMP_SYS(poll),
    // What a new thread does as it starts (see AllowThreads()).
    SCMP_SYS(set_robust_list),
    SCMP_SYS(rseq),
#ifdef QUIMBEL_WORKER_UNDER_SANITIZERS
    // The sanitizer runtime's own calls: its reports read the process's maps and write them out.
    SCMP_SYS(open),
    SCMP_SYS(openat),
    SCMP_SYS(readlink),
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(tgkill),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(prctl),
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(getrlimit),
    SCMP_SYS(prlimit64),
    SCMP_SYS(pread64),
    SCMP_SYS(sched_getaffinity),
    SCMP_SYS(getdents64),
    SCMP_SYS(statx),
    SCMP_SYS(dup),
    SCMP_SYS(dup2),
    SCMP_SYS(dup3),
    SCMP_SYS(wait4),
    SCMP_SYS(clone),
    SCMP_SYS(clone3),
    SCMP_SYS(pipe),
    SCMP_SYS(pipe2),
#endif
};

// Lets the worker and the add-on start threads, but no process: clone only with CLONE_THREAD.
// clone3 takes its flags in memory seccomp cannot read, so it says it does not exist, and the C
// library falls back to clone. Under the sanitizers both are allowed already.
bool AllowThreads(scmp_filter_ctx filter)
{
#ifdef QUIMBEL_WORKER_UNDER_SANITIZERS
	(void)filter;
	return true;
#else
	return seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
	                        SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0 &&
	       seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
#endif
}

bool ForbidDangerousCalls(std::string& error)
{
	scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
	if (filter == NULL) {
		error = "cannot make a system-call filter";
		return false;
	}
	bool built = true;
	for (int call : kForbiddenCalls)
		built = built && seccomp_rule_add(filter, SCMP_ACT_TRAP, call, 0) == 0;
	// The SIGSYS handler that reports forbidden calls stays in place.
	built = built && seccomp_rule_add(filter, SCMP_ACT_TRAP, SCMP_SYS(rt_sigaction), 1,
	                                  SCMP_A0(SCMP_CMP_EQ, SIGSYS)) == 0;
	if (!built) {
		seccomp_release(filter);
		error = "cannot build the system-call filter";
		return false;
	}
	return LoadFilter(filter, error);
}

} // namespace

bool EnterSandbox(const std::string& addonPath, int reportSocket, bool& landlocked,
                  std::string& error)
{
	sReportSocket = reportSocket;
	if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
		error = std::string("cannot drop privileges: ") + strerror(errno);
		return false;
	}
	return InstallReporter(error) && RestrictFiles(addonPath, landlocked, error) &&
	       ForbidDangerousCalls(error);
}

bool NarrowSandbox(std::string& error)
{
	scmp_filter_ctx filter = seccomp_init(SCMP_ACT_TRAP);
	if (filter == NULL) {
		error = "cannot make a system-call filter";
		return false;
	}
	for (int call : kRunningCalls) {
		if (seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) != 0) {
			seccomp_release(filter);
			error = "cannot build the system-call filter";
			return false;
		}
	}
	// Every thread of the worker is narrowed at once, not only this one: the worker's own watch
	// on the host, and any thread the add-on started while it was loaded.
	if (!AllowThreads(filter) || seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) != 0) {
		seccomp_release(filter);
		error = "cannot build the system-call filter";
		return false;
	}
	return LoadFilter(filter, error);
}
