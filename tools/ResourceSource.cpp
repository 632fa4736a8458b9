#include "ResourceSource.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "IconSource.h"
#include "PlatformResources.h"
#include "ResourceText.h"

namespace {

// A word, or a quoted string with its escapes resolved.
struct Token {
	std::string text;
	bool quoted;
};

} // namespace

static bool HexDigit(char c, int& value)
{
	if (!isxdigit((unsigned char)c))
		return false;
	value = isdigit((unsigned char)c) ? c - '0' : tolower((unsigned char)c) - 'a' + 10;
	return true;
}

// Reads the quoted string that starts at line[position], leaving position after its closing
// quote.
static bool ReadQuoted(const std::string& line, size_t& position, std::string& text,
                       std::string& problem)
{
	text.clear();
	for (position++; position < line.size(); position++) {
		char c = line[position];
		if (c == '"') {
			position++;
			return true;
		}
		if (c != '\\') {
			text += c;
			continue;
		}
		if (++position == line.size())
			break;
		char escape = line[position];
		int high;
		int low;
		if (escape == 't')
			text += '\t';
		else if (escape == 'n')
			text += '\n';
		else if (escape == '"' || escape == '\\')
			text += escape;
		else if (escape == 'x' && position + 2 < line.size() &&
		         HexDigit(line[position + 1], high) && HexDigit(line[position + 2], low)) {
			text += (char)(high * 16 + low);
			position += 2;
		} else {
			problem = std::string("unknown escape \\") + escape;
			return false;
		}
	}
	problem = "a string without its closing quote";
	return false;
}

static bool Tokenize(const std::string& line, std::vector<Token>& tokens, std::string& problem)
{
	tokens.clear();
	size_t position = 0;
	while (position < line.size()) {
		char c = line[position];
		if (isspace((unsigned char)c)) {
			position++;
			continue;
		}
		if (c == '#')
			break;
		if (c == '"') {
			Token token{"", true};
			if (!ReadQuoted(line, position, token.text, problem))
				return false;
			tokens.push_back(token);
			continue;
		}
		size_t end = position;
		while (end < line.size() && (isalnum((unsigned char)line[end]) || line[end] == '_'))
			end++;
		if (end == position) {
			problem = std::string("unexpected character '") + c + "'";
			return false;
		}
		tokens.push_back(Token{line.substr(position, end - position), false});
		position = end;
	}
	return true;
}

static std::vector<uint8> StringData(const std::string& text)
{
	std::vector<uint8> data(text.begin(), text.end());
	data.push_back(0);
	return data;
}

static void PutWord(std::vector<uint8>& data, size_t offset, uint32 value)
{
	for (int shift = 0; shift < 32; shift += 8)
		data[offset++] = (uint8)(value >> shift);
}

static bool ParseNumber(const Token& token, uint32& value)
{
	if (token.quoted || token.text.empty() || token.text.size() > 9 ||
	    !std::all_of(token.text.begin(), token.text.end(),
	                 [](char c) { return isdigit((unsigned char)c); }))
		return false;
	value = (uint32)std::stoul(token.text);
	return true;
}

static bool ParseVariety(const Token& token, uint32& variety)
{
	for (size_t i = 0; i < kVarietyCount; i++) {
		std::string name = kVarietyNames[i];
		std::replace(name.begin(), name.end(), ' ', '_');
		if (!token.quoted && token.text == name) {
			variety = (uint32)i;
			return true;
		}
	}
	return false;
}

static bool MakeVersion(const std::vector<Token>& tokens, Resource& resource, std::string& problem)
{
	problem = "expected: app_version <major> <middle> <minor> <variety> <internal> "
	          "\"short description\" \"long description\"";
	if (tokens.size() != 8 || !tokens[6].quoted || !tokens[7].quoted)
		return false;
	resource = Resource{kVersionInfoType, kVersionResourceId, kVersionName,
	                    std::vector<uint8>(kVersionInfoSize, 0)};
	for (size_t i = 0; i < kVersionNumberCount; i++) {
		uint32 number;
		bool valid =
		    i == 3 ? ParseVariety(tokens[1 + i], number) : ParseNumber(tokens[1 + i], number);
		if (!valid)
			return false;
		PutWord(resource.data, i * 4, number);
	}
	const std::string& shortInfo = tokens[6].text;
	const std::string& longInfo = tokens[7].text;
	if (shortInfo.size() >= kShortInfoSize || longInfo.size() >= kLongInfoSize ||
	    shortInfo.find('\0') != std::string::npos || longInfo.find('\0') != std::string::npos) {
		problem = "the descriptions take at most " + std::to_string(kShortInfoSize - 1) + " and " +
		          std::to_string(kLongInfoSize - 1) + " bytes, without NUL";
		return false;
	}
	memcpy(resource.data.data() + kShortInfoOffset, shortInfo.data(), shortInfo.size());
	memcpy(resource.data.data() + kLongInfoOffset, longInfo.data(), longInfo.size());
	return true;
}

static bool MakeString(const std::vector<Token>& tokens, int32 id, const char* name,
                       Resource& resource, std::string& problem)
{
	if (tokens.size() != 2 || !tokens[1].quoted || tokens[1].text.find('\0') != std::string::npos) {
		problem = "expected: " + tokens[0].text + " \"string without NUL\"";
		return false;
	}
	resource = Resource{kMimeStringType, id, name, StringData(tokens[1].text)};
	return true;
}

static bool MakeIcons(const std::vector<Token>& tokens, const std::string& folder,
                      std::vector<Resource>& made, std::vector<std::string>& inputs,
                      std::string& problem)
{
	if (tokens.size() != 2 || !tokens[1].quoted) {
		problem = "expected: icons \"icon source\"";
		return false;
	}
	std::string path = tokens[1].text;
	if (path.empty() || path[0] != '/')
		path = folder + path;
	inputs.push_back(path);
	IconSet icons;
	if (!ReadIconSource(path, icons, problem))
		return false;
	if (icons.count(kLargeIconSide) == 0 || icons.count(kMiniIconSide) == 0) {
		problem = path + ": needs an icon of side " + std::to_string(kLargeIconSide) +
		          " and one of side " + std::to_string(kMiniIconSide);
		return false;
	}
	made.push_back(
	    Resource{kLargeIconType, kIconResourceId, kLargeIconName, icons[kLargeIconSide]});
	made.push_back(Resource{kMiniIconType, kIconResourceId, kMiniIconName, icons[kMiniIconSide]});
	return true;
}

static bool MakeResources(const std::vector<Token>& tokens, const std::string& folder,
                          std::vector<Resource>& made, std::vector<std::string>& inputs,
                          std::string& problem)
{
	const std::string& keyword = tokens[0].text;
	Resource resource;
	if (tokens[0].quoted) {
		problem = "a statement starts with a keyword";
		return false;
	}
	if (keyword == "icons")
		return MakeIcons(tokens, folder, made, inputs, problem);
	if (keyword == "file_type") {
		if (!MakeString(tokens, kFileTypeResourceId, kFileTypeName, resource, problem))
			return false;
	} else if (keyword == "app_signature") {
		if (!MakeString(tokens, kSignatureResourceId, kSignatureName, resource, problem))
			return false;
	} else if (keyword == "app_version") {
		if (!MakeVersion(tokens, resource, problem))
			return false;
	} else if (keyword == "file_types") {
		if (tokens.size() != 1) {
			problem = "expected: file_types (the list is empty)";
			return false;
		}
		resource = Resource{kMessageType, kFileTypesResourceId, kFileTypesName,
		                    std::vector<uint8>(kEmptyMessageSize, 0)};
	} else {
		problem = "unknown statement \"" + keyword + "\"";
		return false;
	}
	made.push_back(resource);
	return true;
}

bool ReadResourceSource(const std::string& path, std::vector<Resource>& resources,
                        std::vector<std::string>& inputs, std::string& error)
{
	resources.clear();
	inputs.assign(1, path);
	std::ifstream file(path);
	if (!file) {
		error = path + ": cannot open";
		return false;
	}
	std::string folder = path.substr(0, path.find_last_of('/') + 1);
	int lineNumber = 0;
	std::string line;
	while (std::getline(file, line)) {
		lineNumber++;
		std::vector<Token> tokens;
		std::vector<Resource> made;
		std::string problem;
		if (!Tokenize(line, tokens, problem) ||
		    (!tokens.empty() && !MakeResources(tokens, folder, made, inputs, problem))) {
			error = path + ":" + std::to_string(lineNumber) + ": " + problem;
			resources.clear();
			return false;
		}
		for (const Resource& resource : made) {
			for (const Resource& earlier : resources) {
				if (earlier.type != resource.type || earlier.id != resource.id)
					continue;
				error = path + ":" + std::to_string(lineNumber) + ": a second resource of type " +
				        TypeCodeText(resource.type) + " and id " + std::to_string(resource.id);
				resources.clear();
				return false;
			}
			resources.push_back(resource);
		}
	}
	return true;
}
