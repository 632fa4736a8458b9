#include "ClosestNames.h"

#include <algorithm>
#include <cctype>

namespace {

// Names shorter than this are not suggested merely because they start with the word.
const size_t kShortestPrefix = 3;

bool SameIgnoringCase(char a, char b)
{
	return tolower((unsigned char)a) == tolower((unsigned char)b);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& start)
{
	return text.size() >= start.size() &&
	       std::equal(start.begin(), start.end(), text.begin(), SameIgnoringCase);
}

} // namespace

size_t EditDistance(const std::string& a, const std::string& b)
{
	// One row of the distance table at a time: row[j] is the distance between the first i
	// characters of a and the first j of b.
	std::vector<size_t> row(b.size() + 1);
	for (size_t j = 0; j <= b.size(); j++)
		row[j] = j;
	for (size_t i = 1; i <= a.size(); i++) {
		size_t diagonal = row[0];
		row[0] = i;
		for (size_t j = 1; j <= b.size(); j++) {
			size_t above = row[j];
			size_t substitution = diagonal + (SameIgnoringCase(a[i - 1], b[j - 1]) ? 0 : 1);
			row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
			diagonal = above;
		}
	}
	return row[b.size()];
}

std::vector<std::string> ClosestNames(const std::string& word,
                                      const std::vector<std::string>& names, size_t most)
{
	struct Candidate {
		size_t distance;
		std::string name;
	};
	std::vector<Candidate> close;
	for (const std::string& name : names) {
		if (name.empty() || std::any_of(close.begin(), close.end(),
		                                [&name](const Candidate& c) { return c.name == name; }))
			continue;
		size_t distance = EditDistance(word, name);
		size_t longer = std::max(word.size(), name.size());
		bool isPrefix = word.size() >= kShortestPrefix && StartsWithIgnoringCase(name, word);
		if (distance <= (longer + 2) / 3 || isPrefix)
			close.push_back({distance, name});
	}
	std::stable_sort(close.begin(), close.end(), [](const Candidate& a, const Candidate& b) {
		return a.distance < b.distance;
	});
	std::vector<std::string> closest;
	for (size_t i = 0; i < close.size() && i < most; i++)
		closest.push_back(close[i].name);
	return closest;
}

std::string DidYouMean(const std::vector<std::string>& names)
{
	if (names.empty())
		return "";
	std::string text = "did you mean ";
	for (size_t i = 0; i < names.size(); i++) {
		if (i > 0)
			text += i + 1 == names.size() ? " or " : ", ";
		text += "\"" + names[i] + "\"";
	}
	return text + "?";
}
