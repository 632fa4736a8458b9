// What the quimbel process sets up before it does anything else.
#ifndef PROCESS_SETUP_H
#define PROCESS_SETUP_H

#include <string>
#include <vector>

// Opens descriptors 0, 1 and 2 on /dev/null where the caller left them closed: otherwise the
// next file opened would take one of them, and whatever is printed would go into that file.
// Returns false when that cannot be done.
bool OpenClosedStandardStreams();

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove every temporary file in flight before they
// end the process as they would have, so that its exit status still tells which signal it was.
void RemoveTemporaryFilesOnSignals();

// Keeps the program's arguments, for RestartForImages() to start it again with.
void KeepArguments(char** argv);

// Starts the program again, as the same process with the same arguments, when the images named
// by `inputs` (as the command line names them; `listed` when more come from a list of files) may
// be large enough for it to pay: a folder, standard input, a list, or files of 256 KiB or more
// together. The program then runs with malloc's settings for images of many megabytes added to
// GLIBC_TUNABLES ahead of the caller's own (which win where both set the same), since malloc
// reads its settings only when a program starts: the codecs' large buffers then sit on huge
// pages and are kept for reuse rather than handed back to the kernel after each, so that their
// first touches cost a fault every 2 MiB instead of every 4 KiB. A caller who chose whether
// malloc asks for huge pages keeps that, with no restart.
// Called by a command before it prints or writes anything. Returns when nothing is to change,
// the restart failed, or this is the restarted process; the program then goes on with the
// environment it was given, which is what its workers get.
void RestartForImages(const std::vector<std::string>& inputs, bool listed);

#endif // PROCESS_SETUP_H
