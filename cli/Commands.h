// The subcommands of quimbel. Each registers itself on the command line; when the user picks
// it, it sets `runner` to the work it does, which main() runs once parsing is complete.
#ifndef COMMANDS_H
#define COMMANDS_H

#include "HostOptions.h"

namespace CLI {
class App;
}

// Adds -y, --overwrite, which lets the command replace files that exist; without it they are
// refused.
void AddOverwriteFlag(CLI::App& command, bool& overwrite);

void AddListCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner);
void AddApplyCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner);
void AddGalleryCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner);
void AddInfoCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner);
void AddCheckCommand(CLI::App& app, const HostOptions& options, CommandRunner& runner);

#endif // COMMANDS_H
