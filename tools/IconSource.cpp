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

bool ReadIconSource(const std::string& path, IconSet& icons, std::string& error)
{
	icons.clear();
	std::ifstream file(path);
	if (!file) {
		error = path + ": cannot open";
		return false;
	}
	std::map<char, uint8> palette;
	std::vector<uint8>* icon = NULL;
	int32 side = 0;
	int32 rows = 0;
	int lineNumber = 0;
	std::string line;
	auto fail = [&](const std::string& problem) {
		error = path + ":" + std::to_string(lineNumber) + ": " + problem;
		icons.clear();
		return false;
	};
	while (std::getline(file, line)) {
		lineNumber++;
		if (icon != NULL && rows < side) {
			if ((int32)line.size() != side)
				return fail("a row of " + std::to_string(side) + " pixels has " +
				            std::to_string(line.size()) + " characters");
			for (char c : line) {
				auto colour = palette.find(c);
				if (colour == palette.end())
					return fail(std::string("'") + c + "' is not in the palette");
				icon->push_back(colour->second);
			}
			rows++;
			continue;
		}
		std::istringstream words(line);
		std::string keyword;
		if (!(words >> keyword) || keyword[0] == '#')
			continue;
		if (keyword == "colour") {
			std::string key;
			std::string value;
			std::string extra;
			if (!(words >> key >> value) || key.size() != 1 || key[0] == '#' || words >> extra)
				return fail("expected: colour <character> <#RRGGBB or transparent>");
			std::string problem;
			uint8 index;
			if (!ParseColour(value, index, problem))
				return fail(problem);
			if (!palette.emplace(key[0], index).second)
				return fail("'" + key + "' is already in the palette");
			continue;
		}
		if (keyword == "icon") {
			std::string extra;
			if (!(words >> side) || side < 1 || side > kMaxSide || words >> extra)
				return fail("expected: icon <side from 1 to " + std::to_string(kMaxSide) + ">");
			if (icons.count(side) != 0)
				return fail("a second icon of side " + std::to_string(side));
			icon = &icons[side];
			rows = 0;
			continue;
		}
		return fail("unknown statement \"" + keyword + "\"");
	}
	if (icon != NULL && rows < side)
		return fail("the icon of side " + std::to_string(side) + " has only " +
		            std::to_string(rows) + " rows");
	return true;
}
