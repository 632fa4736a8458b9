#include "OutputPlan.h"

#include <filesystem>

void OutputPlan::Plan(const std::string& input, const std::string& output)
{
	auto [earlier, isNew] = fPlaces.emplace(ResolvedOutputPath(output), input);
	if (!isNew) {
		std::string name = std::filesystem::path(input).filename().string();
		if (name == std::filesystem::path(earlier->second).filename().string())
			fRefused.push_back(input + ": has the same file name as " + earlier->second +
			                   "; both would be written to " + output);
		else
			fRefused.push_back(input + ": would be written to " + output + ", as " +
			                   earlier->second + " is");
		return;
	}
	ImageKind kind;
	std::string error;
	if (!OutputImageKind(output, fFormat, kind, error)) {
		fRefused.push_back(output + ": " + error);
		return;
	}
	if (!fClaims.Claim(output, error)) {
		fRefused.push_back(error);
		return;
	}
	fOutputs.push_back({input, output});
}
