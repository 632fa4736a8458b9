#include "HugePageFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "WorkerChannel.h"

namespace {

// Writes `text` to the file at `path`; false when it cannot.
bool WriteFile(const char* path, const char* text)
{
	int file = open(path, O_WRONLY | O_CLOEXEC);
	if (file < 0)
		return false;
	size_t length = strlen(text);
	bool written = write(file, text, length) == (ssize_t)length;
	close(file);
	return written;
}

// In the child: a new user namespace in which this user is themself, with the right to mount,
// and a mount namespace of its own; then the file system, mounted nowhere. Sends its root's
// descriptor on `socket`. Only system calls from here on: the parent may have threads.
void MountInChild(int socket, const char* userMap, const char* groupMap)
{
	if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !WriteFile("/proc/self/uid_map", userMap) ||
	    !WriteFile("/proc/self/setgroups", "deny") || !WriteFile("/proc/self/gid_map", groupMap))
		return;
	int context = (int)syscall(SYS_fsopen, "tmpfs", FSOPEN_CLOEXEC);
	if (context < 0)
		return;
	// Files of the owner only; as large as memory, as the shared-memory files it stands in for.
	int root = -1;
	if (syscall(SYS_fsconfig, context, FSCONFIG_SET_STRING, "huge", "always", 0) == 0 &&
	    syscall(SYS_fsconfig, context, FSCONFIG_SET_STRING, "mode", "0700", 0) == 0 &&
	    syscall(SYS_fsconfig, context, FSCONFIG_SET_STRING, "size", "100%", 0) == 0 &&
	    syscall(SYS_fsconfig, context, FSCONFIG_CMD_CREATE, NULL, NULL, 0) == 0) {
		root = (int)syscall(SYS_fsmount, context, FSMOUNT_CLOEXEC,
		                    MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV | MOUNT_ATTR_NOEXEC);
	}
	if (root < 0)
		return;
	// Passed as workers pass their results: beside a message, here an empty one.
	WorkerMessage message = {};
	SendWorkerMessage(socket, message, root);
}

// Whether a worker can be kept from shrinking a file it was lent, which would make the host's
// next read of it fail with SIGBUS: the worker has no ftruncate once its add-on is loaded, and
// Landlock from version 3 on keeps it from opening the file anew to truncate it. Without that
// the kit's memfds, sealed against shrinking, are the safe choice.
bool WorkersCannotTruncate()
{
	long abi = syscall(SYS_landlock_create_ruleset, NULL, 0, LANDLOCK_CREATE_RULESET_VERSION);
	return abi >= 3;
}

} // namespace

int OpenHugePageFolder()
{
	if (!WorkersCannotTruncate())
		return -1;
	char userMap[64];
	char groupMap[64];
	snprintf(userMap, sizeof(userMap), "%u %u 1", (unsigned)geteuid(), (unsigned)geteuid());
	snprintf(groupMap, sizeof(groupMap), "%u %u 1", (unsigned)getegid(), (unsigned)getegid());

	int sockets[2];
	if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
		return -1;
	pid_t child = fork();
	if (child == 0) {
		close(sockets[0]);
		MountInChild(sockets[1], userMap, groupMap);
		_exit(0);
	}
	close(sockets[1]);
	int root = -1;
	if (child > 0) {
		WorkerMessage message;
		if (!ReceiveWorkerMessage(sockets[0], message, root))
			root = -1;
		while (waitpid(child, NULL, 0) < 0 && errno == EINTR) {
		}
	}
	close(sockets[0]);
	return root;
}
