#include "OutputPaths.h"
#include "Messages.h"

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

std::string ResolvedOutputPath(const std::string& output)
{
	std::string target = FinalTarget(output);
	std::error_code ignored;
	std::string resolved = std::filesystem::weakly_canonical(target, ignored).string();
	return resolved.empty() ? target : resolved;
}

bool CreateFolder(const std::string& folder, const char* use, std::string& error)
{
	std::error_code failure;
	std::filesystem::create_directories(folder, failure);
	if (!failure)
		return true;
	error = folder + ": cannot create the " + use + " folder: " + failure.message();
	return false;
}

bool MakeOutputFolder(const std::string& folder, const char* use)
{
	std::string error;
	if (CreateFolder(folder, use, error))
		return true;
	ReportError(error);
	return false;
}

void OutputClaims::AddInput(const std::string& input)
{
	struct stat status;
	if (stat(input.c_str(), &status) == 0)
		fInputs.emplace(FileId(status.st_dev, status.st_ino), input);
}

bool OutputClaims::Claim(const std::string& output, std::string& error)
{
	std::string target = FinalTarget(output);
	std::string resolved = ResolvedOutputPath(output);
	auto earlierPath = fClaimedPaths.find(resolved);
	if (earlierPath != fClaimedPaths.end()) {
		error = output + ": is the same file as the output " + earlierPath->second +
		        "; not writing it twice";
		return false;
	}

	struct stat status;
	if (stat(target.c_str(), &status) == 0) {
		FileId id(status.st_dev, status.st_ino);
		auto input = fInputs.find(id);
		if (input != fInputs.end()) {
			error =
			    output + ": the output is the input file " + input->second + "; not overwriting it";
			return false;
		}
		auto earlierFile = fClaimedFiles.find(id);
		if (earlierFile != fClaimedFiles.end()) {
			error = output + ": is the same file as the output " + earlierFile->second +
			        "; not writing it twice";
			return false;
		}
		if (fExisting == Existing::kKeep) {
			error = output + ": exists; not replacing it without --overwrite (-y)";
			return false;
		}
		fClaimedFiles.emplace(id, output);
	}
	fClaimedPaths.emplace(resolved, output);
	return true;
}
