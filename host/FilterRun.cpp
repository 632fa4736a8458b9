#include "FilterRun.h"

namespace {

// Why `result` cannot be written as an image, or NULL when it can. A bitmap the kit made valid
// has finite bounds and pixel memory that covers them.
const char* CheckResult(const BBitmap& result)
{
	if (result.InitCheck() != B_OK || result.Bits() == NULL)
		return "returned a bitmap without pixel memory";
	if (result.ColorSpace() != B_RGB32 && result.ColorSpace() != B_RGBA32)
		return "returned a bitmap that is not in a 32-bit colour space";

	return NULL;
}

} // namespace

std::unique_ptr<BBitmap> RunFilter(const AddonEntry& entry, BBitmap& source,
                                   const std::string& file, std::string& error)
{
	std::unique_ptr<BBitmap> result;
	try {
		result.reset(entry.filter->Run(&source));
	} catch (...) {
		error = file + ": filter " + DescribeFilter(entry) + " raised an exception";
		return NULL;
	}
	if (result == NULL) {
		error = file + ": filter " + DescribeFilter(entry) + " produced no image";
		return NULL;
	}
	if (const char* problem = CheckResult(*result)) {
		error = file + ": filter " + DescribeFilter(entry) + " " + problem;
		return NULL;
	}
	return result;
}
