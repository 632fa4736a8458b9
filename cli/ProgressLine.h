// The one line a batch's progress display draws: how many files are done, how fast they go, how
// long the rest will take and which file is being worked on, fitted to the terminal's width.
#ifndef PROGRESS_LINE_H
#define PROGRESS_LINE_H

#include <string>

struct ProgressState {
	int done = 0;
	int total = 0;
	int failed = 0;
	// Since the batch started.
	double seconds = 0;
	// The file most recently started; may be empty.
	std::string current;
};

// The line for `state`, never more than `columns` - 1 terminal columns wide, so that it stays
// on its line, with no line break: the terminal's last column is left free,
// where writing would make some terminals wrap. The parts are dropped in this order as the line
// narrows: the bar, the file name (first shortened, keeping its end), the rate, the time left;
// the count of files comes first and is cut only when nothing else is left.
std::string FormatProgressLine(const ProgressState& state, int columns);

// `text` shortened to at most `width` columns by replacing its start with "...", so that the
// end, where a path has its file name, stays; `text` itself when it fits. Never splits a UTF-8
// sequence.
std::string ShortenFromStart(const std::string& text, size_t width);

// The columns the UTF-8 `text` takes on a terminal: wide East Asian characters take two, a
// byte that is no UTF-8 one.
size_t TextColumns(const std::string& text);

#endif // PROGRESS_LINE_H
