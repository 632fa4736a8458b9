// Scanning the add-on folder for a command and telling the user what it found wrong.
#ifndef FOLDER_SCAN_H
#define FOLDER_SCAN_H

#include <string>

#include "AddonFolder.h"
#include "HostOptions.h"

// Scans the add-on folders into `folder` (--addons, then $QUIMBEL_ADDONS, the user's folder and
// the installed one), its add-ons in worker processes unless `options.inProcess`, telling
// standard error about every file that is not a usable add-on and, when the folder gave no
// add-on at all, why. Add-ons unchanged since an earlier scan are taken from the cache of what
// it found, unless `afresh`; then every add-on is loaded, and standard error also hears when the
// kernel could not confine the workers' files. Returns false when there is no add-on; what the
// reported files mean to the command's status is AddonFolder::ProblemsFail().
bool ScanAndReport(AddonFolder& folder, const HostOptions& options, bool afresh = false);

// The limits of the workers that run add-ons for a command with `options`.
WorkerLimits WorkerLimitsFor(const HostOptions& options);

#endif // FOLDER_SCAN_H
