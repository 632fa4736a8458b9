// quimbel list: every add-on found, one line each: file name, id, display name; then each add-on
// shadowed by one of an earlier folder.
#include <algorithm>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "AddonFolder.h"
#include "Commands.h"
#include "FolderScan.h"
#include "Messages.h"

namespace {

int RunList(const HostOptions& options)
{
	AddonFolder folder;
	if (!ScanAndReport(folder, options, true))
		return kExitSomeFailed;

	size_t fileWidth = 0;
	size_t idWidth = 0;
	for (const AddonEntry& entry : folder.Entries()) {
		fileWidth = std::max(fileWidth, entry.fileName.size());
		idWidth = std::max(idWidth, FormatFilterId(entry.id).size());
	}
	for (const AddonEntry& entry : folder.Entries()) {
		printf("%-*s  %*s  %s\n", (int)fileWidth, Printable(entry.fileName).c_str(), (int)idWidth,
		       FormatFilterId(entry.id).c_str(), Printable(entry.name).c_str());
	}
	for (const std::string& shadowed : folder.Shadowed())
		printf("shadowed: %s\n", Printable(shadowed).c_str());
	return folder.ProblemsFail(FolderUse::kEveryAddon) ? kExitSomeFailed : kExitSuccess;
}

} // namespace

void AddListCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner)
{
	CLI::App* command = app.add_subcommand("list", "List every add-on found: file, id, name");
	command->callback([&runner, &options] { runner = [&options] { return RunList(options); }; });
}
