#include "Progress.h"

#include <cstdio>
#include <unistd.h>

#include "Messages.h"

namespace {

const int kBarWidth = 40;

} // namespace

Progress::Progress(int total)
    : fShowBar(isatty(STDERR_FILENO) == 1), fBarShown(false), fTotal(total), fSucceeded(0),
      fFailed(0)
{
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
	std::lock_guard<std::mutex> lock(fLock);
	_Clear();
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

void Progress::_Draw()
{
	if (!fShowBar || fTotal <= 0)
		return;
	int done = fSucceeded + fFailed;
	int filled = (int)((int64_t)done * kBarWidth / fTotal);
	fprintf(stderr, "\r[%s%*s] %d/%d", std::string(filled, '#').c_str(), kBarWidth - filled, "",
	        done, fTotal);
	if (fFailed > 0)
		fprintf(stderr, ", %d failed", fFailed);
	fflush(stderr);
	fBarShown = true;
}

void Progress::_Clear()
{
	if (!fBarShown)
		return;
	fputs("\r\033[K", stderr);
	fBarShown = false;
}
