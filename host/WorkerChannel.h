// Sending and receiving WorkerMessages, each with at most one descriptor beside it.
#ifndef WORKER_CHANNEL_H
#define WORKER_CHANNEL_H

#include "WorkerProtocol.h"

// Sends `message`, and `descriptor` beside it unless it is -1. Returns false when the socket
// is closed or broken.
bool SendWorkerMessage(int socket, const WorkerMessage& message, int descriptor = -1);

// Waits for the next message. A descriptor sent beside it is stored in `descriptor` (else -1),
// owned by the caller. Returns false when the other side has gone, or sent something that is no
// whole message.
bool ReceiveWorkerMessage(int socket, WorkerMessage& message, int& descriptor);

#endif // WORKER_CHANNEL_H
