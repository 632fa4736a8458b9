#include "ProgressLine.h"

#include <algorithm>
#include <cstdio>

#include "Utf8.h"

namespace {

// The widest the bar gets, brackets included, and the narrowest worth drawing.
const int kWidestBar = 42;
const int kNarrowestBar = 12;
// A file name shortened further than this says too little to be worth its place.
const size_t kNarrowestName = 8;
const char kEllipsis[] = "...";

std::string Count(const ProgressState& state)
{
	std::string count = std::to_string(state.done) + "/" + std::to_string(state.total);
	if (state.failed > 0)
		count += ", " + std::to_string(state.failed) + " failed";
	return count;
}

// Files a second so far; empty until a file is done.
std::string Rate(const ProgressState& state)
{
	if (state.done <= 0 || state.seconds <= 0)
		return "";
	double rate = state.done / state.seconds;
	char text[32];
	snprintf(text, sizeof(text), rate < 100 ? "%.1f files/s" : "%.0f files/s", rate);
	return text;
}

// The time the files not yet done will take at the rate so far; empty until a file is done.
std::string TimeLeft(const ProgressState& state)
{
	if (state.done <= 0 || state.seconds <= 0)
		return "";
	double left = (state.total - state.done) * (state.seconds / state.done);
	long seconds = (long)std::min(left + 0.5, 359999.0);
	char text[32];
	if (seconds >= 3600)
		snprintf(text, sizeof(text), "%ld:%02ld:%02ld left", seconds / 3600, seconds / 60 % 60,
		         seconds % 60);
	else
		snprintf(text, sizeof(text), "%ld:%02ld left", seconds / 60, seconds % 60);
	return text;
}

std::string Bar(const ProgressState& state, int width)
{
	int inner = width - 2;
	int filled = state.total > 0 ? (int)((long long)state.done * inner / state.total) : 0;
	filled = std::max(0, std::min(filled, inner));
	std::string bar(width, ' ');
	bar.front() = '[';
	bar.replace(1, filled, filled, '#');
	bar.back() = ']';
	return bar;
}

} // namespace

size_t TextColumns(const std::string& text)
{
	size_t columns = 0;
	for (size_t i = 0; i < text.size();) {
		uint32_t code;
		size_t length = DecodeUtf8(text, i, code);
		// A byte that is no UTF-8 shows as one replacement character.
		columns += length == 0 ? 1 : CharacterColumns(code);
		i += length == 0 ? 1 : length;
	}
	return columns;
}

std::string ShortenFromStart(const std::string& text, size_t width)
{
	size_t columns = TextColumns(text);
	if (columns <= width)
		return text;
	size_t ellipsis = sizeof(kEllipsis) - 1;
	if (width <= ellipsis)
		return std::string(kEllipsis, width);
	// Drop whole characters from the start until what is left fits beside the ellipsis.
	size_t start = 0;
	while (columns > width - ellipsis) {
		uint32_t code;
		size_t length = DecodeUtf8(text, start, code);
		columns -= length == 0 ? 1 : CharacterColumns(code);
		start += length == 0 ? 1 : length;
	}
	std::string shortened = kEllipsis;
	shortened.append(text, start, std::string::npos);
	return shortened;
}

std::string FormatProgressLine(const ProgressState& state, int columns)
{
	int room = columns - 1;
	if (room <= 0)
		return "";
	std::string count = Count(state);
	if ((int)count.size() >= room)
		return count.substr(0, room);

	// Each part that fits takes its place, in the order they matter; two spaces part them.
	int used = count.size();
	std::string left = TimeLeft(state);
	if (left.empty() || used + 2 + (int)left.size() > room)
		left.clear();
	else
		used += 2 + left.size();
	std::string rate = Rate(state);
	if (rate.empty() || used + 2 + (int)rate.size() > room)
		rate.clear();
	else
		used += 2 + rate.size();
	// The bar takes a third of what is left, so that the file name keeps the rest.
	int barWidth = std::min(kWidestBar, (room - used) / 3);
	std::string bar;
	if (barWidth >= kNarrowestBar) {
		bar = Bar(state, barWidth);
		used += barWidth + 1;
	}
	std::string name;
	if (!state.current.empty() && room - used - 2 >= (int)kNarrowestName)
		name = ShortenFromStart(state.current, room - used - 2);

	std::string line = bar.empty() ? count : bar + " " + count;
	for (const std::string* part : {&rate, &left, &name}) {
		if (!part->empty())
			line += "  " + *part;
	}
	return line;
}
