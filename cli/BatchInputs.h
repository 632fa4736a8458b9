// The inputs of a batch: the files the user names, the images in the folders named with -r, and
// the names read from a list (--files-from), in that order.
#ifndef BATCH_INPUTS_H
#define BATCH_INPUTS_H

#include <cstdio>
#include <string>
#include <vector>

// One input and where it sits below the folder it was found in.
struct BatchInput {
	std::string path;
	// The input's folder relative to the folder named on the command line ("" for a file
	// directly in it, "a/b" deeper down); "" for a file named itself.
	std::string folder;
};

class BatchInputs {
public:
	// With `recursive`, a folder stands for every image below it; otherwise it is refused.
	explicit BatchInputs(bool recursive) : fRecursive(recursive) {}

	// Adds what `name` stands for: a file (or a stream, or "-"), or the images of a folder in
	// the order of their names. A file found in a folder whose content is no image is passed
	// over with a note; one that cannot be read is kept, for reading to report.
	void Add(const std::string& name);

	// Adds each name of `list`, the names separated by `separator` ('\n' or '\0'); empty names
	// are passed over. Returns false, with `error` naming `label`, when the list cannot be read.
	bool AddListed(FILE* list, const std::string& label, char separator, std::string& error);

	const std::vector<BatchInput>& Inputs() const { return fInputs; }
	// One message per name that is no input (a folder without -r), each naming it.
	const std::vector<std::string>& Refused() const { return fRefused; }
	// One note per file passed over, or folder that could not be read to the end.
	const std::vector<std::string>& Notes() const { return fNotes; }

private:
	void _AddFolder(const std::string& root);

	bool fRecursive;
	std::vector<BatchInput> fInputs;
	std::vector<std::string> fRefused;
	std::vector<std::string> fNotes;
};

#endif // BATCH_INPUTS_H
