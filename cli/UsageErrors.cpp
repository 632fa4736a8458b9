#include "UsageErrors.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>

#include <CLI/CLI.hpp>

#include "ClosestNames.h"
#include "HostOptions.h"
#include "Messages.h"

namespace {

// Range bounds longer than this are the parser's stand-ins for "no bound".
const long kLongestBound = 20;

// The app and the subcommands that parsing chose, outermost first.
std::vector<const CLI::App*> ChosenCommands(const CLI::App& app)
{
	std::vector<const CLI::App*> commands = {&app};
	for (size_t i = 0; i < commands.size(); i++) {
		for (const CLI::App* command : commands[i]->get_subcommands())
			commands.push_back(command);
	}
	return commands;
}

// "apply: " when the arguments at fault follow the subcommand apply; empty before any.
std::string CommandLabel(const std::vector<const CLI::App*>& commands)
{
	std::string label;
	for (size_t i = 1; i < commands.size(); i++)
		label += commands[i]->get_name() + (i + 1 == commands.size() ? ": " : " ");
	return label;
}

// Whether an option of this type name (as the parser records it: INT, UINT or FLOAT, then its
// checks) takes a plain number, and if so whether a whole one. A size such as 8G is no plain
// number.
bool TakesNumber(const std::string& typeName, bool& whole)
{
	if (typeName.find("SIZE") != std::string::npos)
		return false;
	for (const char* type : {"INT", "UINT", "FLOAT"}) {
		size_t length = strlen(type);
		if (typeName.compare(0, length, type) == 0 &&
		    (typeName.size() == length || !isalpha((unsigned char)typeName[length]))) {
			whole = type[0] != 'F';
			return true;
		}
	}
	return false;
}

bool IsNumber(const std::string& text, bool whole)
{
	if (text.empty() || isspace((unsigned char)text[0]))
		return false;
	char* end = NULL;
	errno = 0;
	if (whole)
		strtoll(text.c_str(), &end, 10);
	else
		strtod(text.c_str(), &end);
	return errno == 0 && *end == '\0';
}

// The message for a number option given a value that is not one, or empty when no option of
// the chosen commands has such a value.
std::string NotANumber(const std::vector<const CLI::App*>& commands)
{
	for (const CLI::App* command : commands) {
		for (const CLI::Option* option : command->get_options()) {
			bool whole = false;
			if (option->count() == 0)
				continue;
			if (!TakesNumber(option->get_type_name(), whole))
				continue;
			for (const std::string& value : option->results()) {
				if (!IsNumber(value, whole)) {
					return option->get_name() + ": \"" + value + "\" is not a " +
					       (whole ? "whole number" : "number");
				}
			}
		}
	}
	return "";
}

// The long names of the options of the chosen commands, without their dashes: "jobs".
std::vector<std::string> OptionNames(const std::vector<const CLI::App*>& commands)
{
	std::vector<std::string> names;
	for (const CLI::App* command : commands) {
		for (const CLI::Option* option : command->get_options()) {
			for (const std::string& name : option->get_lnames())
				names.push_back(name);
		}
	}
	return names;
}

// `message`, then the names nearest to `word`, each with `prefix` in front.
std::string WithSuggestion(const std::string& message, const std::string& word,
                           const std::vector<std::string>& names, const std::string& prefix = "")
{
	std::vector<std::string> closest = ClosestNames(word, names);
	for (std::string& name : closest)
		name = prefix + name;
	std::string suggestion = DidYouMean(closest);
	return suggestion.empty() ? message : message + "; " + suggestion;
}

// The first of the arguments no option or command took, or empty.
std::string FirstLeftOver(const CLI::App& app, bool options)
{
	for (const std::string& argument : app.remaining(true)) {
		if ((argument.size() > 1 && argument[0] == '-') == options)
			return argument;
	}
	return "";
}

std::string Explain(const CLI::App& app, const CLI::ParseError& error)
{
	std::vector<const CLI::App*> commands = ChosenCommands(app);
	if (commands.size() == 1 && dynamic_cast<const CLI::RequiredError*>(&error) != NULL) {
		std::vector<std::string> names;
		for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
			names.push_back(command->get_name());
		std::string word = FirstLeftOver(app, false);
		if (!word.empty())
			return WithSuggestion("unknown command \"" + word + "\"", word, names);
		std::string list;
		for (size_t i = 0; i < names.size(); i++)
			list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
		return "give a command: " + list + " (quimbel --help tells more)";
	}
	if (dynamic_cast<const CLI::ValidationError*>(&error) != NULL ||
	    dynamic_cast<const CLI::ConversionError*>(&error) != NULL) {
		std::string message = NotANumber(commands);
		if (!message.empty())
			return message;
	}
	if (dynamic_cast<const CLI::ExtrasError*>(&error) != NULL) {
		std::string option = FirstLeftOver(app, true);
		if (!option.empty()) {
			// Compared without the dashes, which every name has and which would make short
			// names look alike.
			std::string name = option.substr(0, option.find('='));
			name.erase(0, name.find_first_not_of('-'));
			return WithSuggestion("unknown option \"" + option + "\"", name, OptionNames(commands),
			                      "--");
		}
		std::string word = FirstLeftOver(app, false);
		if (!word.empty())
			return CommandLabel(commands) + "unexpected argument \"" + word + "\"";
	}
	// The parser's own words for the rest, but for its range checks, which it words as
	// "--quality: Value 0 not in range 1 to 100", and missing values ("--addons: 1 required TEXT
	// missing"); its messages start with a capital, ours do not.
	std::string message = error.what();
	std::smatch parts;
	if (std::regex_match(message, parts,
	                     std::regex("(-[^:]*): Value (.*) not in range (.*) to (.*)"))) {
		// The check for a positive number is a range up to the largest double.
		if (parts[4].length() > kLongestBound)
			return parts[1].str() + ": " + parts[2].str() + " is not above 0";
		return parts[1].str() + ": " + parts[2].str() + " is not between " + parts[3].str() +
		       " and " + parts[4].str();
	}
	if (std::regex_match(message, parts, std::regex("(-[^:]*): [0-9]+ required .* missing")))
		return parts[1].str() + ": give a value";
	// The parser takes a size apart before checking its unit, and its message then holds only
	// part of what the user gave.
	if (std::regex_match(message, parts, std::regex("(-[^:]*): .* unit not recognized.*")))
		return parts[1].str() + ": not a size; give a number with an optional unit, such as 512M "
		                        "or 8G";
	if (!message.empty() && !(message.size() > 1 && isupper((unsigned char)message[1])))
		message[0] = tolower((unsigned char)message[0]);
	// A message about an option names it; the option may belong to the program, not the
	// command.
	return message[0] == '-' ? message : CommandLabel(commands) + message;
}

} // namespace

int ReportUsageError(const CLI::App& app, const CLI::ParseError& error)
{
	if (dynamic_cast<const CLI::Success*>(&error) != NULL) {
		// Help and version: the parser prints them.
		app.exit(error);
		return kExitSuccess;
	}
	ReportError(Explain(app, error));
	return kExitUsage;
}
