// What the fuzz targets share: the limits they decode with, and running every add-on of the
// build on the decoded bitmap, the way the host does.
#ifndef FUZZ_ADDONS_H
#define FUZZ_ADDONS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <Bitmap.h>

#include "ImageFile.h"

// Smaller than the host's, so that one input cannot take the fuzzer's whole memory or time,
// also after the add-ons that double the size.
ImageLimits FuzzLimits();

// Runs every add-on in the add-on folder on `bitmap` and deletes the results. The folder is the
// build's, or $QUIMBEL_ADDONS when set; it is read and the add-ons are loaded at the first call.
// Aborts, so that the fuzzer reports it, when an add-on returns a bitmap that is not valid.
void RunEveryAddon(BBitmap* bitmap);

typedef std::unique_ptr<BBitmap> (*ImageReader)(FILE* file, const ImageLimits& limits,
                                                std::string& error, ImageMetadata* metadata);

typedef std::unique_ptr<BBitmap> (*MemoryImageReader)(const uint8* data, size_t size,
                                                      const ImageLimits& limits, std::string& error,
                                                      ImageMetadata* metadata);

// One fuzz input: decodes `data` as a file with `read`, then runs every add-on on the result.
int FuzzReader(ImageReader read, const uint8_t* data, size_t size);
int FuzzReader(MemoryImageReader read, const uint8_t* data, size_t size);

#endif // FUZZ_ADDONS_H
