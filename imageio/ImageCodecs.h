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

// The kinds whose libraries want the whole file at once read it from memory.
std::unique_ptr<BBitmap> ReadWebp(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata);
std::unique_ptr<BBitmap> ReadTiff(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata);
// HEIC and AVIF, both HEIF containers.
std::unique_ptr<BBitmap> ReadHeif(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata);

// `metadata`, when given, has been mended for the bitmap (see WriteImage) and is written as it is.
bool WritePng(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
              const ImageMetadata* metadata, std::string& error);
bool WriteJpeg(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error);
bool WriteWebp(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error);
bool WriteTiff(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error);
bool WriteAvif(const BBitmap& bitmap, FILE* file, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error);

// The quality `options` ask for, or the kind's default when they leave it to us.
int QualityFor(const WriteOptions& options, int kindDefault);

// Checks a size read from a file's header against `limits` and makes the bitmap for it; sizes are
// computed in 64 bits, so no header can make them wrap. Returns NULL with `error` set otherwise.
std::unique_ptr<BBitmap> CreateImageBitmap(uint32 width, uint32 height, bool hasAlpha,
                                           const ImageLimits& limits, std::string& error);

#endif // IMAGE_CODECS_H
