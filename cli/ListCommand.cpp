// quimbel list: every add-on found, one line each: file name, id, display name and, for the
// add-ons that come with quimbel, what the filter does; then each add-on shadowed by one of an
// earlier folder. --json says the same for scripts, --names gives only what FILTER accepts.
#include <algorithm>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterDescriptions.h"
#include "FolderScan.h"
#include "JsonWriter.h"
#include "Messages.h"

namespace {

struct ListArguments {
	bool json = false;
	bool names = false;
};

void PrintTable(const AddonFolder& folder)
{
	size_t fileWidth = 0;
	size_t idWidth = 0;
	size_t nameWidth = 0;
	for (const AddonEntry& entry : folder.Entries()) {
		fileWidth = std::max(fileWidth, Printable(entry.fileName).size());
		idWidth = std::max(idWidth, FormatFilterId(entry.id).size());
		nameWidth = std::max(nameWidth, Printable(entry.name).size());
	}
	for (const AddonEntry& entry : folder.Entries()) {
		std::string line = Printable(entry.fileName);
		line.resize(fileWidth, ' ');
		std::string id = FormatFilterId(entry.id);
		line += "  " + std::string(idWidth - id.size(), ' ') + id + "  " + Printable(entry.name);
		const char* description = FilterDescription(entry.id, entry.name);
		if (description != NULL) {
			line.resize(fileWidth + idWidth + nameWidth + 4, ' ');
			line += std::string("  ") + description;
		}
		printf("%s\n", line.c_str());
	}
	for (const std::string& shadowed : folder.Shadowed())
		printf("shadowed: %s\n", Printable(shadowed).c_str());
}

void PrintJson(const AddonFolder& folder)
{
	JsonWriter json;
	json.BeginObject();
	json.Key("addons");
	json.BeginArray();
	for (const AddonEntry& entry : folder.Entries()) {
		json.BeginObject();
		json.Key("file");
		json.String(entry.fileName);
		json.Key("path");
		json.String(entry.path);
		json.Key("id");
		json.Number(entry.id);
		json.Key("id_text");
		json.String(FormatFilterId(entry.id));
		json.Key("name");
		json.String(entry.name);
		json.Key("description");
		const char* description = FilterDescription(entry.id, entry.name);
		if (description != NULL)
			json.String(description);
		else
			json.Null();
		json.EndObject();
	}
	json.EndArray();
	for (const auto& [key, lines] : {std::make_pair("shadowed", &folder.Shadowed()),
	                                 std::make_pair("problems", &folder.Problems())}) {
		json.Key(key);
		json.BeginArray();
		for (const std::string& line : *lines)
			json.String(line);
		json.EndArray();
	}
	json.EndObject();
	fputs(json.Text().c_str(), stdout);
}

// Every display name and file name, one a line, each once, in the table's order: the words
// shell completion offers for FILTER.
void PrintNames(const AddonFolder& folder)
{
	std::vector<std::string> names;
	for (const AddonEntry& entry : folder.Entries()) {
		for (const std::string* name : {&entry.name, &entry.fileName}) {
			if (std::find(names.begin(), names.end(), *name) == names.end())
				names.push_back(*name);
		}
	}
	for (const std::string& name : names)
		printf("%s\n", Printable(name).c_str());
}

int RunList(const ListArguments& arguments, const HostOptions& options)
{
	AddonFolder folder;
	if (!ScanAndReport(folder, options, true))
		return kExitSomeFailed;
	if (arguments.json)
		PrintJson(folder);
	else if (arguments.names)
		PrintNames(folder);
	else
		PrintTable(folder);
	return folder.ProblemsFail(FolderUse::kEveryAddon) ? kExitSomeFailed : kExitSuccess;
}

} // namespace

void AddListCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<ListArguments>();
	CLI::App* command = app.add_subcommand(
	    "list", "List every add-on found: file, id, name and what the filter does");
	CLI::Option* json =
	    command->add_flag("--json", arguments->json,
	                      "Print the list as JSON: addons (file, path, id, id_text, name, "
	                      "description), shadowed and problems");
	command
	    ->add_flag("--names", arguments->names,
	               "Print only the display names and file names FILTER accepts, one a line (for "
	               "shell completion)")
	    ->excludes(json);
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunList(*arguments, options); };
	});
}
