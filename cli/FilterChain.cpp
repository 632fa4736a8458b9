#include "FilterChain.h"

#include <cctype>

#include "FilterRun.h"

std::string FilterChain::FileNamePart() const
{
	std::string part;
	for (const AddonEntry* entry : fEntries) {
		if (!part.empty())
			part += '+';
		part += entry->name;
	}
	for (char& c : part) {
		if (!isalnum((unsigned char)c) && c != '+' && c != '-' && c != '_' && c != '.')
			c = '-';
	}
	if (!part.empty() && part[0] == '.')
		part[0] = '_';
	return part;
}

void FilterChain::Prepare(const BBitmap& source) const
{
	if (!fEntries.empty())
		PrepareFilter(*fEntries.front(), source);
}

std::unique_ptr<BBitmap> FilterChain::Run(std::unique_ptr<BBitmap> source, const std::string& file,
                                          std::string& error) const
{
	// The memory budget counts the file as its first filter sees it: after a filter that
	// enlarges the image, the next ones hold more than was reserved.
	for (size_t i = 0; i < fEntries.size(); i++) {
		std::unique_ptr<BBitmap> result = RunFilter(*fEntries[i], *source, file, error);
		if (result == NULL) {
			if (i + 1 < fEntries.size())
				error += "; the filters after it did not run";
			return NULL;
		}
		source = std::move(result);
	}
	return source;
}
