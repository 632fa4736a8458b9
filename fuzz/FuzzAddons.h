// What the fuzz targets share: the limits they decode with, and running every add-on of the
// build on the decoded bitmap, the way the host does.
#ifndef FUZZ_ADDONS_H
#define FUZZ_ADDONS_H

#include <Bitmap.h>

#include "ImageFile.h"

// Smaller than the host's, so that one input cannot take the fuzzer's whole memory or time,
// also after the add-ons that double the size.
ImageLimits FuzzLimits();

// Runs every add-on in the add-on folder on `bitmap` and deletes the results. The folder is the
// build's, or $QUIMBEL_ADDONS when set; it is read and the add-ons are loaded at the first call.
// Aborts, so that the fuzzer reports it, when an add-on returns a bitmap that is not valid.
void RunEveryAddon(BBitmap* bitmap);

#endif // FUZZ_ADDONS_H
