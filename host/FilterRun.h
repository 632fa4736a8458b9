// Running one filter on one image and checking what it hands back.
#ifndef FILTER_RUN_H
#define FILTER_RUN_H

#include <memory>
#include <string>

#include <Bitmap.h>

#include "AddonFolder.h"

// Runs the filter of `entry` on `source`, read from `file`, in this process or in one of the
// entry's workers, whose output goes to PrintOutput(). Returns the result, owned by the caller,
// or NULL with `error` naming the file and the filter when the filter produced no image, raised
// an exception, returned a bitmap that is not a whole 32-bit image or its source, or (in a
// worker) crashed, hung, exited or was stopped by its sandbox. With `seconds`, sets it to how
// long the filter's Run took where it ran: in a worker, handing the images over is left out.
std::unique_ptr<BBitmap> RunFilter(const AddonEntry& entry, BBitmap& source,
                                   const std::string& file, std::string& error,
                                   double* seconds = NULL);

// Tells the worker that will run the filter of `entry` on `source` to map it ahead, while the
// caller is still filling it (nothing in this process).
void PrepareFilter(const AddonEntry& entry, const BBitmap& source);

// Writes what an add-on printed in a worker on standard output, whole: output of several
// workers at once does not mix within one piece.
void PrintOutput(const char* data, size_t size);

// Whether `result` is `source` or a bitmap over some of its pixel memory: the caller owns the
// source, so such a result must never be deleted.
bool SharesSource(const BBitmap* result, const BBitmap& source);

// Why `result` cannot be written as an image ("returned a bitmap ..."), or NULL when it can.
const char* ResultProblem(const BBitmap& result);

#endif // FILTER_RUN_H
