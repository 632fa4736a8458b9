#include "FilterRun.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>

void PrintOutput(const char* data, size_t size)
{
	static std::mutex sLock;
	std::lock_guard<std::mutex> lock(sLock);
	fwrite(data, 1, size, stdout);
	fflush(stdout);
}

// A bitmap the kit made valid has finite bounds and pixel memory that covers them.
const char* ResultProblem(const BBitmap& result)
{
	if (result.InitCheck() != B_OK || result.Bits() == NULL)
		return "returned a bitmap without pixel memory";
	if (result.ColorSpace() != B_RGB32 && result.ColorSpace() != B_RGBA32)
		return "returned a bitmap that is not in a 32-bit colour space";

	return NULL;
}

bool SharesSource(const BBitmap* result, const BBitmap& source)
{
	if (result == &source)
		return true;
	const uint8* bits = static_cast<const uint8*>(result->Bits());
	const uint8* sourceBits = static_cast<const uint8*>(source.Bits());
	if (bits == NULL || sourceBits == NULL)
		return false;
	std::less<const uint8*> before;
	return before(bits, sourceBits + source.BitsLength()) &&
	       before(sourceBits, bits + result->BitsLength());
}

void PrepareFilter(const AddonEntry& entry, const BBitmap& source)
{
	if (entry.workers != NULL)
		entry.workers->Prepare(source);
}

std::unique_ptr<BBitmap> RunFilter(const AddonEntry& entry, BBitmap& source,
                                   const std::string& file, std::string& error, double* seconds)
{
	if (entry.workers != NULL) {
		std::string why;
		std::unique_ptr<BBitmap> result = entry.workers->Run(source, PrintOutput, why, seconds);
		if (result == NULL)
			error = file + ": filter " + DescribeFilter(entry) + " " + why;
		return result;
	}

	BBitmap* returned = NULL;
	std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
	try {
		returned = entry.filter->Run(&source);
	} catch (...) {
		error = file + ": filter " + DescribeFilter(entry) + " raised an exception";
		return NULL;
	}
	if (seconds != NULL)
		*seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	if (returned == NULL) {
		error = file + ": filter " + DescribeFilter(entry) + " produced no image";
		return NULL;
	}
	if (SharesSource(returned, source)) {
		// Not deleted: that would free the source's memory under its owner. A bitmap of its
		// own over the source's pixels is left to the add-on, a small leak against a double
		// free.
		error = file + ": filter " + DescribeFilter(entry) +
		        " returned its source image instead of a new one";
		return NULL;
	}
	std::unique_ptr<BBitmap> result(returned);
	if (const char* problem = ResultProblem(*result)) {
		error = file + ": filter " + DescribeFilter(entry) + " " + problem;
		return NULL;
	}
	return result;
}
