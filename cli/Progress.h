// Telling the user how a batch goes: messages and a progress line on standard error.
#ifndef PROGRESS_H
#define PROGRESS_H

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>

#include "ProgressLine.h"

// Shared by the workers of a batch; every call is safe from any thread. The progress line is
// drawn only when standard error is a terminal that can move its cursor (TERM set and not
// "dumb") and the user did not ask for quiet; it is one line as wide as the terminal, redrawn in
// place, and redrawn to the new width when the terminal is resized. Messages never mix with it:
// each one clears the line, takes a line of its own and the progress line is drawn again below.
class Progress {
public:
	explicit Progress(int total, bool quiet = false);
	~Progress();

	// Shows `file` as the one being worked on.
	void Begin(const std::string& file);
	// Prints "quimbel: <message>" on standard error.
	void Report(const std::string& message);
	// Counts one more file done, written or failed.
	void Advance(bool succeeded);
	// Removes the progress line for good.
	void Finish();

	int Succeeded() const;
	int Failed() const;

private:
	Progress(const Progress&) = delete;
	Progress& operator=(const Progress&) = delete;

	// Redraws the line every second, for the rate and the time left, and soon after a resize.
	void _Tick();
	void _Draw();
	void _Clear();

	mutable std::mutex fLock;
	std::condition_variable fStopping;
	bool fShowLine;
	bool fLineShown;
	bool fFinished;
	int fColumns;
	int fTotal;
	int fSucceeded;
	int fFailed;
	std::string fCurrent;
	std::chrono::steady_clock::time_point fStart;
	std::thread fTicker;
	// What SIGWINCH did before the line was shown, put back when it is finished.
	struct sigaction fPreviousResize;
};

#endif // PROGRESS_H
