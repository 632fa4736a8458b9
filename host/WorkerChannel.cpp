#include "WorkerChannel.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

bool SendWorkerMessage(int socket, const WorkerMessage& message, int descriptor)
{
	struct iovec data = {const_cast<WorkerMessage*>(&message), sizeof(message)};
	union {
		char buffer[CMSG_SPACE(sizeof(int))];
		struct cmsghdr align;
	} control;
	struct msghdr header = {};
	header.msg_iov = &data;
	header.msg_iovlen = 1;
	if (descriptor >= 0) {
		memset(&control, 0, sizeof(control));
		header.msg_control = control.buffer;
		header.msg_controllen = sizeof(control.buffer);
		struct cmsghdr* item = CMSG_FIRSTHDR(&header);
		item->cmsg_level = SOL_SOCKET;
		item->cmsg_type = SCM_RIGHTS;
		item->cmsg_len = CMSG_LEN(sizeof(int));
		memcpy(CMSG_DATA(item), &descriptor, sizeof(int));
	}
	for (;;) {
		ssize_t sent = sendmsg(socket, &header, MSG_NOSIGNAL);
		if (sent == (ssize_t)sizeof(message))
			return true;
		if (sent < 0 && errno == EINTR)
			continue;
		return false;
	}
}

bool ReceiveWorkerMessage(int socket, WorkerMessage& message, int& descriptor)
{
	descriptor = -1;
	struct iovec data = {&message, sizeof(message)};
	union {
		char buffer[CMSG_SPACE(sizeof(int))];
		struct cmsghdr align;
	} control;
	struct msghdr header = {};
	header.msg_iov = &data;
	header.msg_iovlen = 1;
	header.msg_control = control.buffer;
	header.msg_controllen = sizeof(control.buffer);
	ssize_t received;
	do {
		received = recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
	} while (received < 0 && errno == EINTR);

	for (struct cmsghdr* item = CMSG_FIRSTHDR(&header); item != NULL;
	     item = CMSG_NXTHDR(&header, item)) {
		if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_RIGHTS)
			continue;
		size_t count = (item->cmsg_len - CMSG_LEN(0)) / sizeof(int);
		for (size_t i = 0; i < count; i++) {
			int passed;
			memcpy(&passed, CMSG_DATA(item) + i * sizeof(int), sizeof(int));
			if (descriptor < 0)
				descriptor = passed;
			else
				close(passed);
		}
	}
	bool whole = received == (ssize_t)sizeof(message) && (header.msg_flags & MSG_CTRUNC) == 0 &&
	             (header.msg_flags & MSG_TRUNC) == 0;
	if (!whole && descriptor >= 0) {
		close(descriptor);
		descriptor = -1;
	}
	if (whole)
		message.text[sizeof(message.text) - 1] = '\0';
	return whole;
}
