#include "FolderScan.h"
#include "Messages.h"

#include <cstdio>

bool ScanAndReport(AddonFolder& folder, const std::string& path)
{
	std::string error;
	bool found = folder.Scan(path, error);
	for (const std::string& problem : folder.Problems())
		ReportError(problem);
	if (!found)
		ReportError(error);
	return found;
}
