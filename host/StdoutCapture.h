// Collecting what code writes on standard output while still passing it through.
#ifndef STDOUT_CAPTURE_H
#define STDOUT_CAPTURE_H

#include <mutex>
#include <string>

// While a capture is open, file descriptor 1 leads to an anonymous in-memory file; Finish() puts
// the real standard output back, copies what was collected to it and returns the text. Standard
// output belongs to the whole process, so captures are taken one at a time (a second one waits),
// and nothing else the program does may write to standard output meanwhile. When no in-memory
// file can be had, output goes straight through and Finish() returns an empty string.
class StdoutCapture {
public:
	StdoutCapture();
	~StdoutCapture();

	// At most this many bytes of the collected text are returned; all of it is passed through.
	static const size_t kMaxKept = 64 * 1024;

	std::string Finish();
	// Puts the real standard output back and drops what was collected, passing none of it on:
	// for runs whose output has been seen already.
	void Discard();

private:
	StdoutCapture(const StdoutCapture&) = delete;
	StdoutCapture& operator=(const StdoutCapture&) = delete;

	void _Restore();

	std::unique_lock<std::mutex> fLock;
	int fSavedOutput;
	int fStore;
};

#endif // STDOUT_CAPTURE_H
