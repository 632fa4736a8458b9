// What the quimbel process sets up before it does anything else.
#ifndef PROCESS_SETUP_H
#define PROCESS_SETUP_H

// Opens descriptors 0, 1 and 2 on /dev/null where the caller left them closed: otherwise the
// next file opened would take one of them, and whatever is printed would go into that file.
// Returns false when that cannot be done.
bool OpenClosedStandardStreams();

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove every temporary file in flight before they
// end the process as they would have, so that its exit status still tells which signal it was.
void RemoveTemporaryFilesOnSignals();

// Starts the program again, as the same process with the same arguments, with malloc's settings
// for images of many megabytes added to GLIBC_TUNABLES ahead of the caller's own (which win where
// both set the same), since malloc reads its settings only when a program starts. A caller who
// chose whether malloc asks for huge pages keeps that, with no restart. Images of many megabytes
// pass through the codecs' own buffers: on huge pages, and kept for reuse rather than handed back
// to the kernel after each, their first touches cost a fault every 2 MiB instead of every 4 KiB.
// Returns only when nothing is to change, the restart failed, or this is the restarted process; the
// program then goes on with the environment it was given, which is what its workers get.
void RestartWithTunedAllocator(char** argv);

#endif // PROCESS_SETUP_H
