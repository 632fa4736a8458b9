#include "IconSource.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ColorMap.h"

static const int32 kMaxSide = 256;

// The colour `text` names: "transparent" or #RRGGBB in the system colour map.
static bool ParseColour(const std::string& text, uint8& index, std::string& problem)
{
	if (text == "transparent") {
		index = kTransparentIndex;
		return true;
	}
	unsigned red;
	unsigned green;
	unsigned blue;
	char end;
	if (text.size() != 7 || sscanf(text.c_str(), "#%2x%2x%2x%c", &red, &green, &blue, &end) != 3) {
		problem = "expected #RRGGBB or transparent, found \"" + text + "\"";
		return false;
	}
	if (!FindSystemColor((uint8)red, (uint8)green, (uint8)blue, index)) {
		problem = text + " is not in the system colour map";
		return false;
	}
	return true;
}

namespace {

// One pass over an icon source, a line at a time. Each step returns the problem with the line,
// or an empty string when there is none.
class IconSourceReader {
public:
	explicit IconSourceReader(IconSet& icons) : fIcons(icons), fIcon(NULL), fSide(0), fRows(0) {}

	std::string ReadLine(const std::string& line)
	{
		if (_InIcon())
			return _ReadRow(line);
		std::istringstream words(line);
		std::string keyword;
		if (!(words >> keyword) || keyword[0] == '#')
			return "";
		if (keyword == "colour")
			return _ReadColour(words);
		if (keyword == "icon")
			return _StartIcon(words);
		return "unknown statement \"" + keyword + "\"";
	}

	// What is wrong with the source having ended here.
	std::string Finish() const
	{
		if (!_InIcon())
			return "";
		return "the icon of side " + std::to_string(fSide) + " has only " + std::to_string(fRows) +
		       " rows";
	}

private:
	bool _InIcon() const { return fIcon != NULL && fRows < fSide; }

	std::string _ReadRow(const std::string& line)
	{
		if ((int32)line.size() != fSide) {
			return "a row of " + std::to_string(fSide) + " pixels has " +
			       std::to_string(line.size()) + " characters";
		}
		for (char c : line) {
			auto colour = fPalette.find(c);
			if (colour == fPalette.end())
				return std::string("'") + c + "' is not in the palette";
			fIcon->push_back(colour->second);
		}
		fRows++;
		return "";
	}

	std::string _ReadColour(std::istringstream& words)
	{
		std::string key;
		std::string value;
		std::string extra;
		if (!(words >> key >> value) || key.size() != 1 || key[0] == '#' || words >> extra)
			return "expected: colour <character> <#RRGGBB or transparent>";
		std::string problem;
		uint8 index;
		if (!ParseColour(value, index, problem))
			return problem;
		if (!fPalette.emplace(key[0], index).second)
			return "'" + key + "' is already in the palette";
		return "";
	}

	std::string _StartIcon(std::istringstream& words)
	{
		std::string extra;
		if (!(words >> fSide) || fSide < 1 || fSide > kMaxSide || words >> extra)
			return "expected: icon <side from 1 to " + std::to_string(kMaxSide) + ">";
		if (fIcons.count(fSide) != 0)
			return "a second icon of side " + std::to_string(fSide);
		fIcon = &fIcons[fSide];
		fRows = 0;
		return "";
	}

	IconSet& fIcons;
	std::map<char, uint8> fPalette;
	// The icon whose rows are being read.
	std::vector<uint8>* fIcon;
	int32 fSide;
	int32 fRows;
};

} // namespace

bool ReadIconSource(const std::string& path, IconSet& icons, std::string& error)
{
	icons.clear();
	std::ifstream file(path);
	if (!file) {
		error = path + ": cannot open";
		return false;
	}
	IconSourceReader reader(icons);
	int lineNumber = 0;
	std::string line;
	std::string problem;
	while (problem.empty() && std::getline(file, line)) {
		lineNumber++;
		problem = reader.ReadLine(line);
	}
	if (problem.empty())
		problem = reader.Finish();
	if (problem.empty())
		return true;
	error = path + ":" + std::to_string(lineNumber) + ": " + problem;
	icons.clear();
	return false;
}
