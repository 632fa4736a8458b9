// Running one filter on one image and checking what it hands back.
#ifndef FILTER_RUN_H
#define FILTER_RUN_H

#include <memory>
#include <string>

#include <Bitmap.h>

#include "AddonFolder.h"

// Runs the filter of `entry` on `source`, read from `file`. Returns the result, owned by the
// caller, or NULL with `error` naming the file and the filter when the filter produced no image,
// raised an exception, or returned a bitmap that is not a whole 32-bit image.
std::unique_ptr<BBitmap> RunFilter(const AddonEntry& entry, BBitmap& source,
                                   const std::string& file, std::string& error);

#endif // FILTER_RUN_H
