// Telling the user how a batch goes: messages and a progress bar on standard error.
#ifndef PROGRESS_H
#define PROGRESS_H

#include <mutex>
#include <string>

// Shared by the workers of a batch; every call is safe from any thread. The bar is drawn only
// when standard error is a terminal, and messages never mix with it: each one clears the bar,
// takes a line of its own and the bar is drawn again below it.
class Progress {
public:
	explicit Progress(int total);

	// Prints "quimbel: <message>" on standard error.
	void Report(const std::string& message);
	// Counts one more file done, written or failed.
	void Advance(bool succeeded);
	// Removes the bar.
	void Finish();

	int Succeeded() const;
	int Failed() const;

private:
	void _Draw();
	void _Clear();

	mutable std::mutex fLock;
	bool fShowBar;
	bool fBarShown;
	int fTotal;
	int fSucceeded;
	int fFailed;
};

#endif // PROGRESS_H
