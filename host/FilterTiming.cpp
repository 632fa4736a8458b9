#include "FilterTiming.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <vector>

#include "FilterRun.h"
#include "StdoutCapture.h"

namespace {

double Median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	size_t middle = values.size() / 2;
	if (values.size() % 2 == 1)
		return values[middle];
	return (values[middle - 1] + values[middle]) / 2;
}

} // namespace

bool TimeFilter(const AddonEntry& entry, BBitmap& source, const std::string& file, int runs,
                double& median, std::string& error)
{
	assert(runs > 0);
	std::vector<double> times;
	// What the filter prints has been seen in the run before; printed once per run again, it
	// would only repeat.
	StdoutCapture capture;
	for (int i = 0; i < runs; i++) {
		double seconds = 0;
		std::unique_ptr<BBitmap> result = RunFilter(entry, source, file, error, &seconds);
		if (result == NULL) {
			capture.Discard();
			return false;
		}
		times.push_back(seconds);
	}
	capture.Discard();
	median = Median(times);
	return true;
}
