#include "OutputPaths.h"

#include <cstdio>
#include <filesystem>

#include <sys/stat.h>

bool IsSameFile(const std::string& a, const std::string& b)
{
	struct stat first;
	struct stat second;
	if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0)
		return false;
	return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool OutputIsInput(const std::string& input, const std::string& output, std::string& error)
{
	if (!IsSameFile(input, output))
		return false;
	error = output + ": the output is the input file " + input + "; not overwriting it";
	return true;
}

bool MakeOutputFolder(const std::string& folder, const char* use)
{
	std::error_code failure;
	std::filesystem::create_directories(folder, failure);
	if (!failure)
		return true;
	fprintf(stderr, "quimbel: %s: cannot create the %s folder: %s\n", folder.c_str(), use,
	        failure.message().c_str());
	return false;
}
