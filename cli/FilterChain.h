// The filters `apply` runs on each image, one after the other: the one the user names, then each
// of --then.
#ifndef FILTER_CHAIN_H
#define FILTER_CHAIN_H

#include <memory>
#include <string>
#include <vector>

#include <Bitmap.h>

#include "AddonFolder.h"

class FilterChain {
public:
	// Appends the filter of `entry`, which the folder that found it keeps.
	void Add(const AddonEntry* entry) { fEntries.push_back(entry); }

	// The display names joined with '+', as a part of a file name: every character that is
	// not a letter, a digit or one of "+-_." becomes '-', and a leading '.' becomes '_', so that
	// it is neither a hidden file nor a step up a folder.
	std::string FileNamePart() const;

	// Has the worker of the first filter map `source` ahead, while the caller fills it.
	void Prepare(const BBitmap& source) const;

	// Runs the first filter on `source` and each next one on what the one before made, each in
	// its own add-on's worker (or in this process). Returns the last result, owned by the
	// caller, or NULL with `error` naming `file` and the filter that failed; the filters after it
	// do not run.
	std::unique_ptr<BBitmap> Run(std::unique_ptr<BBitmap> source, const std::string& file,
	                             std::string& error) const;

private:
	std::vector<const AddonEntry*> fEntries;
};

#endif // FILTER_CHAIN_H
