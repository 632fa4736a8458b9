// Where each output of a batch goes, from -o: a folder, in which each input keeps its file name
// and its place below the folder it was found in; or a template such as
// "out/{dir}/{stem}-neg.webp" whose fields each input fills in.
#ifndef OUTPUT_NAMING_H
#define OUTPUT_NAMING_H

#include <string>
#include <vector>

#include "BatchInputs.h"

class OutputNaming {
public:
	// Reads -o's `output`: a template when it holds a '{', otherwise a folder. `format`, when
	// not empty, is --format's name, which becomes every output's extension. Returns false, with
	// `error`, for a template with an unknown or unclosed field.
	bool Parse(const std::string& output, const std::string& format, std::string& error);

	bool IsTemplate() const { return fIsTemplate; }
	// Whether the template uses {filter}.
	bool NamesFilter() const;

	// Where `input` goes; `filter` fills {filter}. A {dir} that is empty takes the '/' after it
	// along, so that "out/{dir}/x" of a loose file is "out/x".
	std::string OutputFor(const BatchInput& input, const std::string& filter) const;

private:
	// A piece of the template: text as it is, or a field to fill in.
	struct Piece {
		enum Kind { kText, kStem, kExtension, kFolder, kFilter } kind;
		std::string text;
	};

	std::string fFolder;
	std::string fFormat;
	bool fIsTemplate = false;
	std::vector<Piece> fPieces;
};

#endif // OUTPUT_NAMING_H
