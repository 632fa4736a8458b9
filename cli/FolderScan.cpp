#include "FolderScan.h"

#include <cstdio>

bool ScanAndReport(AddonFolder& folder, const std::string& path)
{
	std::string error;
	bool found = folder.Scan(path, error);
	for (const std::string& problem : folder.Problems())
		fprintf(stderr, "quimbel: %s\n", problem.c_str());
	if (!found)
		fprintf(stderr, "quimbel: %s\n", error.c_str());
	return found;
}
