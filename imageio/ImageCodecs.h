// The codecs behind ReadImage and WriteImage. Each works on an open stream and sets `error` to a
// message without the file name, which ImageFile.cpp puts in front.
#ifndef IMAGE_CODECS_H
#define IMAGE_CODECS_H

#include <cstdio>
#include <memory>
#include <string>

#include <Bitmap.h>

#include "ImageFile.h"

// `metadata` may be NULL when nothing but the pixels is wanted, or is to be written.
std::unique_ptr<BBitmap> ReadPng(FILE* file, const ImageLimits& limits, std::string& error,
                                 ImageMetadata* metadata);
std::unique_ptr<BBitmap> ReadJpeg(FILE* file, const ImageLimits& limits, std::string& error,
                                  ImageMetadata* metadata);

bool WritePng(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
              const ImageMetadata* metadata, std::string& error);
bool WriteJpeg(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error);

// Checks a size read from a file's header against `limits` and makes the bitmap for it; sizes are
// computed in 64 bits, so no header can make them wrap. Returns NULL with `error` set otherwise.
std::unique_ptr<BBitmap> CreateImageBitmap(uint32 width, uint32 height, bool hasAlpha,
                                           const ImageLimits& limits, std::string& error);

#endif // IMAGE_CODECS_H
