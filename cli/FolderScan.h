// Scanning the add-on folder for a command and telling the user what it found wrong.
#ifndef FOLDER_SCAN_H
#define FOLDER_SCAN_H

#include <string>

#include "AddonFolder.h"

// Scans `path` into `folder`, telling standard error about every file that is not a usable
// add-on and, when the folder gave no add-on at all, why. Returns false in that last case only;
// what the reported files mean to the command's status is AddonFolder::ProblemsFail().
bool ScanAndReport(AddonFolder& folder, const std::string& path);

#endif // FOLDER_SCAN_H
