#include "OutputNaming.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

// The part of a file name before its last '.', and the part after it (without the dot); a name
// that only starts with a '.' (".profile") has no extension.
void SplitName(const std::string& name, std::string& stem, std::string& extension)
{
	size_t dot = name.rfind('.');
	if (dot == std::string::npos || dot == 0) {
		stem = name;
		extension.clear();
		return;
	}
	stem = name.substr(0, dot);
	extension = name.substr(dot + 1);
}

} // namespace

bool OutputNaming::Parse(const std::string& output, const std::string& format, std::string& error)
{
	fFormat = format;
	std::transform(fFormat.begin(), fFormat.end(), fFormat.begin(),
	               [](unsigned char c) { return (char)tolower(c); });
	fFolder = output;
	fIsTemplate = output.find('{') != std::string::npos;
	fPieces.clear();
	if (!fIsTemplate)
		return true;

	static const struct {
		const char* name;
		Piece::Kind kind;
	} kFields[] = {
	    {"stem", Piece::kStem},
	    {"ext", Piece::kExtension},
	    {"dir", Piece::kFolder},
	    {"filter", Piece::kFilter},
	};
	size_t at = 0;
	while (at < output.size()) {
		size_t open = output.find('{', at);
		if (open == std::string::npos)
			open = output.size();
		if (open > at)
			fPieces.push_back({Piece::kText, output.substr(at, open - at)});
		if (open == output.size())
			break;
		size_t close = output.find('}', open);
		if (close == std::string::npos) {
			error = "-o " + output +
			        ": a '{' without its '}'; fields are {stem}, {ext}, {dir} "
			        "and {filter}";
			return false;
		}
		std::string name = output.substr(open + 1, close - open - 1);
		auto field = std::find_if(std::begin(kFields), std::end(kFields),
		                          [&name](const auto& field) { return name == field.name; });
		if (field == std::end(kFields)) {
			error = "-o " + output + ": unknown field {" + name +
			        "}; fields are {stem}, {ext}, {dir} and {filter}";
			return false;
		}
		fPieces.push_back({field->kind, ""});
		at = close + 1;
	}
	return true;
}

bool OutputNaming::NamesFilter() const
{
	return std::any_of(fPieces.begin(), fPieces.end(),
	                   [](const Piece& piece) { return piece.kind == Piece::kFilter; });
}

std::string OutputNaming::OutputFor(const BatchInput& input, const std::string& filter) const
{
	std::string name = std::filesystem::path(input.path).filename().string();
	std::string stem;
	std::string extension;
	SplitName(name, stem, extension);
	if (!fFormat.empty()) {
		extension = fFormat;
		name = stem + "." + extension;
	}
	if (!fIsTemplate)
		return fFolder + "/" + (input.folder.empty() ? "" : input.folder + "/") + name;

	std::string output;
	bool skipSlash = false;
	for (const Piece& piece : fPieces) {
		std::string text;
		switch (piece.kind) {
		case Piece::kText:
			text = piece.text;
			break;
		case Piece::kStem:
			text = stem;
			break;
		case Piece::kExtension:
			text = extension;
			break;
		case Piece::kFolder:
			text = input.folder;
			break;
		case Piece::kFilter:
			text = filter;
			break;
		}
		if (skipSlash && !text.empty() && text[0] == '/')
			text.erase(0, 1);
		skipSlash = piece.kind == Piece::kFolder && input.folder.empty();
		output += text;
	}
	return output;
}
