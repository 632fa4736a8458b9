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

#endif // PROCESS_SETUP_H
