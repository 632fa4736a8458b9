#include "Progress.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Messages.h"

namespace {

// Set by SIGWINCH, read by the ticker, which draws: nothing is drawn from the handler.
std::atomic<bool> sResized(false);
static_assert(std::atomic<bool>::is_always_lock_free, "the resize flag is set from a handler");

// How often the ticker looks at the resize flag; every kTicksPerRedraw-th tick it also redraws.
const std::chrono::milliseconds kTick(200);
const int kTicksPerRedraw = 5;
// When the terminal does not tell its width.
const int kDefaultColumns = 80;

void NoteResize(int)
{
	sResized.store(true);
}

// Whether standard error is a terminal that understands \r and erasing a line.
bool CanDrawLine()
{
	if (isatty(STDERR_FILENO) != 1)
		return false;
	const char* terminal = getenv("TERM");
	return terminal != NULL && terminal[0] != '\0' && strcmp(terminal, "dumb") != 0;
}

int TerminalColumns()
{
	struct winsize size = {};
	if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
		return kDefaultColumns;
	return size.ws_col;
}

} // namespace

Progress::Progress(int total, bool quiet)
    : fShowLine(!quiet && total > 0 && CanDrawLine()), fLineShown(false), fFinished(false),
      fColumns(kDefaultColumns), fTotal(total), fSucceeded(0), fFailed(0),
      fStart(std::chrono::steady_clock::now()), fPreviousResize()
{
	if (!fShowLine)
		return;
	fColumns = TerminalColumns();
	struct sigaction action = {};
	action.sa_handler = NoteResize;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sigaction(SIGWINCH, &action, &fPreviousResize);
	fTicker = std::thread(&Progress::_Tick, this);
}

Progress::~Progress()
{
	Finish();
}

void Progress::Begin(const std::string& file)
{
	std::lock_guard<std::mutex> lock(fLock);
	fCurrent = Printable(file);
	_Draw();
}

void Progress::Report(const std::string& message)
{
	std::lock_guard<std::mutex> lock(fLock);
	_Clear();
	ReportError(message);
	_Draw();
}

void Progress::Advance(bool succeeded)
{
	std::lock_guard<std::mutex> lock(fLock);
	if (succeeded)
		fSucceeded++;
	else
		fFailed++;
	_Draw();
}

void Progress::Finish()
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		if (fFinished)
			return;
		fFinished = true;
		_Clear();
	}
	fStopping.notify_all();
	if (fTicker.joinable())
		fTicker.join();
	if (fShowLine)
		sigaction(SIGWINCH, &fPreviousResize, NULL);
}

int Progress::Succeeded() const
{
	std::lock_guard<std::mutex> lock(fLock);
	return fSucceeded;
}

int Progress::Failed() const
{
	std::lock_guard<std::mutex> lock(fLock);
	return fFailed;
}

void Progress::_Tick()
{
	std::unique_lock<std::mutex> lock(fLock);
	for (int tick = 1; !fFinished; tick++) {
		fStopping.wait_for(lock, kTick);
		if (fFinished)
			break;
		bool resized = sResized.exchange(false);
		if (resized)
			fColumns = TerminalColumns();
		if (resized || tick % kTicksPerRedraw == 0)
			_Draw();
	}
}

void Progress::_Draw()
{
	if (!fShowLine || fFinished)
		return;
	ProgressState state;
	state.done = fSucceeded + fFailed;
	state.total = fTotal;
	state.failed = fFailed;
	state.seconds =
	    std::chrono::duration<double>(std::chrono::steady_clock::now() - fStart).count();
	state.current = fCurrent;
	// Back to the start of the line, the new line, then whatever a longer old one left erased.
	std::string text = "\r";
	text += FormatProgressLine(state, fColumns);
	text += "\033[K";
	fwrite(text.data(), 1, text.size(), stderr);
	fflush(stderr);
	fLineShown = true;
}

void Progress::_Clear()
{
	if (!fLineShown)
		return;
	fputs("\r\033[K", stderr);
	fflush(stderr);
	fLineShown = false;
}
