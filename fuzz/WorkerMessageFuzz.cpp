// Feeds arbitrary bytes to the host as if a worker had sent them: each WorkerMessage-sized piece
// is one message, sent over a socket pair with a lent block beside it when its length asks for
// one, received the way the host receives a worker's messages, and a result laid over the lent
// block the way the host takes a worker's result.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

#include "LentMemory.h"
#include "WorkerChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	static std::shared_ptr<LentMemory> sMemory = std::make_shared<LentMemory>();
	int sockets[2];
	if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
		return 0;
	for (size_t offset = 0; offset + sizeof(WorkerMessage) <= size;
	     offset += sizeof(WorkerMessage)) {
		WorkerMessage sent;
		memcpy(&sent, data + offset, sizeof(sent));
		// Blocks of up to 1 MiB, so that one input cannot take the fuzzer's memory.
		int lent = sent.length % 2 == 0
		               ? sMemory->Lend(sent.length % (1 << 20) + 1, sent.flags % 2 == 0)
		               : -1;
		SendWorkerMessage(sockets[1], sent, lent);
		if (lent >= 0)
			close(lent);

		WorkerMessage received;
		int descriptor = -1;
		if (!ReceiveWorkerMessage(sockets[0], received, descriptor))
			continue;
		if (received.kind == kWorkerResult && descriptor >= 0) {
			BRect bounds(received.left, received.top, received.right, received.bottom);
			std::unique_ptr<BBitmap> result(
			    sMemory->Claim(descriptor, bounds, (color_space)received.space));
			// Every byte the layout claims must be there to read.
			if (result != NULL && result->BitsLength() > 0) {
				const volatile uint8_t* bits = static_cast<const uint8_t*>(result->Bits());
				(void)bits[0];
				(void)bits[result->BitsLength() - 1];
			}
		} else if (descriptor >= 0) {
			close(descriptor);
		}
		sMemory->EndRequest();
	}
	close(sockets[0]);
	close(sockets[1]);
	return 0;
}
