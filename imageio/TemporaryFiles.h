// The temporary files this process has in flight, so that a signal that ends it can remove them
// first. Registering and removing are safe from any thread; RemoveTemporaryFiles() is also safe
// in a signal handler.
#ifndef TEMPORARY_FILES_H
#define TEMPORARY_FILES_H

// Records `path`; returns the slot to hand to ForgetTemporaryFile(), or -1 when every slot is
// taken (there is one for each of far more files than a run writes at once).
int RememberTemporaryFile(const char* path);
// Drops the record once the file has been renamed into place or removed.
void ForgetTemporaryFile(int slot);

// Unlinks every recorded file. Only async-signal-safe calls.
void RemoveTemporaryFiles();

#endif // TEMPORARY_FILES_H
