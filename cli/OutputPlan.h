// The outputs a run of apply is to write, each decided and checked before any is written, so
// that a dry run refuses what a real run would, with the same messages.
#ifndef OUTPUT_PLAN_H
#define OUTPUT_PLAN_H

#include <map>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "OutputPaths.h"

struct PlannedOutput {
	std::string input;
	std::string output;
};

class OutputPlan {
public:
	// Outputs that exist are refused or replaced as `existing` says; `format` is --format's kind,
	// kUnknown to take each output's from its extension.
	OutputPlan(Existing existing, ImageKind format) : fClaims(existing), fFormat(format) {}

	// An input of the run; no output may be it. Every input is added before any is planned.
	void AddInput(const std::string& input) { fClaims.AddInput(input); }

	// Plans to write the result of `input` to `output` when no earlier input is to be written
	// there, the output is of a kind that can be written and OutputClaims lets it through;
	// otherwise refuses it.
	void Plan(const std::string& input, const std::string& output);

	const std::vector<PlannedOutput>& Outputs() const { return fOutputs; }
	// One message per refused output, naming it, or the input and the earlier input that would
	// share it.
	const std::vector<std::string>& Refused() const { return fRefused; }

private:
	OutputClaims fClaims;
	ImageKind fFormat;
	// Each planned place (ResolvedOutputPath()) and the input planned for it.
	std::map<std::string, std::string> fPlaces;
	std::vector<PlannedOutput> fOutputs;
	std::vector<std::string> fRefused;
};

#endif // OUTPUT_PLAN_H
