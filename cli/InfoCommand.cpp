// quimbel info: what each add-on file is: the filter it makes, every resource it carries, and
// on request its icons as PNG files; as lines for people or, with --json, a document for scripts.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FilterRun.h"
#include "FolderScan.h"
#include "Icon.h"
#include "IconFile.h"
#include "JsonWriter.h"
#include "Messages.h"
#include "OutputPaths.h"
#include "PlatformResources.h"
#include "ResourceReader.h"
#include "ResourceText.h"

namespace {

struct InfoArguments {
	std::vector<std::string> addons;
	std::string iconFolder;
	bool overwrite = false;
	bool json = false;
};

// Where what is found about the add-ons goes: lines on standard output as it is found, or one
// JSON document printed at the end. The calls for one add-on come in this order: Addon, Filter
// (unless its filter could not be made), Resource for each resource, Icon for each icon written,
// EndAddon.
class InfoPrinter {
public:
	explicit InfoPrinter(bool json) : fJson(json)
	{
		if (!fJson)
			return;
		fWriter.BeginObject();
		fWriter.Key("addons");
		fWriter.BeginArray();
	}

	void Addon(const std::string& path)
	{
		if (!fJson) {
			printf("%s\n", Printable(path).c_str());
			return;
		}
		fWriter.BeginObject();
		fWriter.Key("path");
		fWriter.String(path);
		fWriter.Key("filter");
		fFilterShown = false;
	}

	void Filter(int32 id, const std::string& name)
	{
		if (!fJson) {
			printf("  filter id %s, name %s\n", FormatFilterId(id).c_str(),
			       QuotedText(name).c_str());
			return;
		}
		fWriter.BeginObject();
		fWriter.Key("id");
		fWriter.Number(id);
		fWriter.Key("id_text");
		fWriter.String(FormatFilterId(id));
		fWriter.Key("name");
		fWriter.String(name);
		fWriter.EndObject();
		fFilterShown = true;
	}

	void Resources(const std::vector<Resource>& resources)
	{
		if (!fJson) {
			for (const Resource& resource : resources)
				printf("  %s\n", DescribeResource(resource).c_str());
			return;
		}
		if (!fFilterShown)
			fWriter.Null();
		fWriter.Key("resources");
		fWriter.BeginArray();
		for (const Resource& resource : resources) {
			fWriter.BeginObject();
			fWriter.Key("type");
			fWriter.String(TypeCodeText(resource.type));
			fWriter.Key("id");
			fWriter.Number(resource.id);
			fWriter.Key("name");
			fWriter.String(resource.name);
			fWriter.Key("size");
			fWriter.Number(resource.data.size());
			fWriter.Key("data");
			fWriter.String(DescribeResourceData(resource));
			fWriter.EndObject();
		}
		fWriter.EndArray();
		fWriter.Key("icons");
		fWriter.BeginArray();
	}

	void Icon(const std::string& path)
	{
		if (!fJson) {
			printf("  wrote %s\n", Printable(path).c_str());
			return;
		}
		fWriter.String(path);
	}

	void EndAddon()
	{
		if (!fJson)
			return;
		fWriter.EndArray();
		fWriter.EndObject();
	}

	// Prints the JSON document, which holds every add-on shown.
	void Finish()
	{
		if (!fJson)
			return;
		fWriter.EndArray();
		fWriter.EndObject();
		fputs(fWriter.Text().c_str(), stdout);
	}

private:
	bool fJson;
	bool fFilterShown = false;
	JsonWriter fWriter;
};

// Where and how icons are written, and the icon files claimed so far.
struct IconOutput {
	std::string folder;
	WriteOptions options;
	OutputClaims claims;
};

// The add-on folder, scanned only once an argument turns out to be a name rather than a file.
struct NamedAddons {
	AddonFolder folder;
	bool scanned = false;
	bool found = false;
};

// The file that `argument` stands for: itself when it is a path or an existing file, otherwise
// the add-on of the folder that it names the way apply's FILTER does. Returns false and sets
// `error`, naming the argument, when it is neither.
bool ResolveAddon(const std::string& argument, const HostOptions& options, NamedAddons& named,
                  std::string& path, std::string& error, std::vector<std::string>& choices)
{
	struct stat status;
	if (argument.find('/') != std::string::npos || stat(argument.c_str(), &status) == 0) {
		path = argument;
		return true;
	}
	if (!named.scanned) {
		named.found = ScanAndReport(named.folder, options);
		named.scanned = true;
	}
	if (!named.found) {
		error = argument + ": no such file, and no add-on in the add-on folder to find it by name";
		return false;
	}
	std::string matchError;
	const AddonEntry* entry = named.folder.Match(argument, matchError, choices);
	if (entry == NULL) {
		error = argument + ": no such file; " + matchError;
		return false;
	}
	path = entry->path;
	return true;
}

// Shows the id and name of the filter the add-on at `path` makes.
bool ShowFilter(const std::string& path, const HostOptions& options, InfoPrinter& printer)
{
	std::string error;
	int32 id = 0;
	std::string name;
	if (options.inProcess) {
		FilterPtr filter = LoadFilter(path, error);
		if (filter == nullptr) {
			ReportError(error);
			return false;
		}
		id = filter->id;
		name = FilterName(*filter);
	} else {
		std::unique_ptr<AddonWorker> worker;
		if (IsLoadableObject(path, error))
			worker = AddonWorker::Start(path, WorkerLimitsFor(options), PrintOutput, error);
		if (worker == nullptr) {
			ReportError(AddonProblem(path, error));
			return false;
		}
		id = worker->Id();
		name = worker->Name();
	}
	printer.Filter(id, name);
	return true;
}

// Writes the large and the mini icon as <file name>-large.png and <file name>-mini.png.
bool WriteIcons(const std::string& path, const std::vector<Resource>& resources, IconOutput& output,
                InfoPrinter& printer)
{
	static const struct {
		uint32 type;
		const char* kind;
	} kIcons[] = {{kLargeIconType, "large"}, {kMiniIconType, "mini"}};

	std::string fileName = std::filesystem::path(path).filename().string();
	for (const auto& kind : kIcons) {
		const Resource* icon = FindIcon(resources, kind.type);
		if (icon == NULL) {
			ReportError(path + ": no complete " + kind.kind + " icon to write");
			return false;
		}
		std::string iconPath = output.folder + "/" + fileName + "-" + kind.kind + ".png";
		std::string error;
		if (!output.claims.Claim(iconPath, error) ||
		    !WriteIconFile(*icon, iconPath, output.options, error)) {
			ReportError(error);
			return false;
		}
		printer.Icon(iconPath);
	}
	return true;
}

// Shows one add-on file and writes its icons when `icons` is not NULL; returns whether
// everything about it could be shown and written.
bool ShowAddon(const std::string& path, const HostOptions& options, IconOutput* icons,
               InfoPrinter& printer)
{
	// The resources are read first, by a reader that trusts nothing in the file: a file that is
	// damaged or no ELF file at all is reported without being handed to the dynamic loader.
	std::vector<Resource> resources;
	std::string error;
	if (!ReadResources(path, resources, error)) {
		ReportError(error);
		return false;
	}
	printer.Addon(path);
	bool complete = ShowFilter(path, options, printer);
	printer.Resources(resources);
	if (icons != NULL)
		complete = WriteIcons(path, resources, *icons, printer) && complete;
	printer.EndAddon();
	return complete;
}

int RunInfo(const InfoArguments& arguments, const HostOptions& options)
{
	const std::string& iconFolder = arguments.iconFolder;
	if (!iconFolder.empty() && !MakeOutputFolder(iconFolder, "icon"))
		return kExitSomeFailed;
	Existing existing = arguments.overwrite ? Existing::kReplace : Existing::kKeep;
	IconOutput icons{iconFolder, options.write, OutputClaims(existing)};
	icons.options.existing = existing;

	NamedAddons named;
	InfoPrinter printer(arguments.json);
	// The icons are named after their add-on's file name; a second add-on of the same file
	// name would overwrite the first one's icons, so it is refused. The same file named twice
	// is shown twice, its icons written once.
	std::map<std::string, std::string> claimed;
	bool complete = true;
	for (const std::string& argument : arguments.addons) {
		std::string path;
		std::string error;
		std::vector<std::string> choices;
		if (!ResolveAddon(argument, options, named, path, error, choices)) {
			ReportError(error, choices);
			complete = false;
			continue;
		}
		bool writeIcons = !iconFolder.empty();
		if (writeIcons) {
			std::string name = std::filesystem::path(path).filename().string();
			auto [earlier, isNew] = claimed.emplace(name, path);
			writeIcons = isNew;
			if (!isNew && !IsSameFile(path, earlier->second)) {
				ReportError(path + ": has the same file name as " + earlier->second +
				            "; both would write their icons to " + iconFolder + "/" + name +
				            "-large.png");
				complete = false;
				continue;
			}
		}
		complete = ShowAddon(path, options, writeIcons ? &icons : NULL, printer) && complete;
	}
	printer.Finish();
	return complete ? kExitSuccess : kExitSomeFailed;
}

} // namespace

void AddInfoCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	auto arguments = std::make_shared<InfoArguments>();
	CLI::App* command = app.add_subcommand(
	    "info", "Show each add-on's filter id and name and its resources; optionally its icons");
	command
	    ->add_option("ADDON", arguments->addons,
	                 "An add-on file, or the display name, file name or id of an add-on of the "
	                 "add-on folder")
	    ->required();
	command
	    ->add_option("--icons", arguments->iconFolder,
	                 "Folder to write each add-on's icons into: <file>-large.png, <file>-mini.png")
	    ->type_name("DIR")
	    ->check(CLI::Validator(
	        [](std::string& folder) {
		        return folder.empty() ? std::string("the icon folder is an empty name") : "";
	        },
	        ""));
	AddOverwriteFlag(*command, arguments->overwrite);
	command->add_flag("--json", arguments->json,
	                  "Print JSON: addons, each with path, filter (id, id_text, name; null when it "
	                  "cannot be made), resources (type, id, name, size, data) and icons written");
	command->callback([&runner, &options, arguments] {
		runner = [&options, arguments] { return RunInfo(*arguments, options); };
	});
}
