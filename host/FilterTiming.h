// How long a filter takes: the median of several runs one after another, so that each finds the
// add-on's code, its caches and the memory it takes warm from the run before.
#ifndef FILTER_TIMING_H
#define FILTER_TIMING_H

#include <string>

#include <Bitmap.h>

#include "AddonFolder.h"

// Runs the filter of `entry` on `source`, read from `file`, `runs` times, dropping their results
// and what they print, and sets `median` to the median of their times in seconds, each measured
// as RunFilter() measures it: the filter alone, without handing images to a worker. The caller
// runs the filter once before, to warm it up. Returns false with `error`, as RunFilter() sets
// it, when a run gives no image.
bool TimeFilter(const AddonEntry& entry, BBitmap& source, const std::string& file, int runs,
                double& median, std::string& error);

#endif // FILTER_TIMING_H
