// Reading and writing image files: PNG through libpng, JPEG through libjpeg-turbo.
#ifndef IMAGE_FILE_H
#define IMAGE_FILE_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <Bitmap.h>

#include "AtomicFile.h"

// The kinds of image file this library reads and writes.
enum class ImageKind {
	kUnknown,
	kPng,
	kJpeg,
};

// The kind a format's name stands for: "png", "jpg" or "jpeg", in any case; kUnknown for any
// other.
ImageKind ImageKindOfFormat(const std::string& format);
// The kind a path's extension stands for, as ImageKindOfFormat() reads it.
ImageKind ImageKindOfPath(const std::string& path);

// What an image file carries besides its pixels that is kept from the file read to the files
// written from it.
struct ImageMetadata {
	// The embedded ICC colour profile, uncompressed, byte for byte; empty when there is none.
	// The pixels are never converted: the profile says what their stored values mean.
	std::vector<uint8> iccProfile;
	// The EXIF orientation of the pixels as read: 1 once ReadImage() has turned them upright.
	int orientation = 1;
};

// Size limits checked from a file's header, before any pixel memory is allocated.
struct ImageLimits {
	int64 maxSide = 16384;
	int64 maxPixels = 64 * 1000 * 1000;
	// Called with the image's size once it has passed the limits above, before its pixel
	// memory is allocated; returning false, with `error` set, refuses the file. The caller may
	// wait there for memory to become free.
	std::function<bool(int64 width, int64 height, std::string& error)> admit;
	// Whether a photograph's EXIF orientation is applied, so that the bitmap stands as viewers
	// show it; otherwise the pixels come as stored.
	bool autoOrient = true;
};

// Reads the PNG or JPEG file at `path`, recognised by its content, into a new bitmap: B_RGBA32
// when the image has alpha (a PNG alpha channel or tRNS), otherwise B_RGB32 with every fourth
// byte 255. Returns NULL and sets `error` to a message that starts with the path when the file
// cannot be read, is not a PNG or JPEG image, is damaged or passes `limits`.
// With `metadata`, also fills it in from the file.
std::unique_ptr<BBitmap> ReadImage(const std::string& path, const ImageLimits& limits,
                                   std::string& error, ImageMetadata* metadata = NULL);

// The same for an open stream, named `label` in messages. A stream that cannot seek (a pipe, a
// terminal) is read as it comes, once.
std::unique_ptr<BBitmap> ReadImageStream(FILE* file, const std::string& label,
                                         const ImageLimits& limits, std::string& error,
                                         ImageMetadata* metadata = NULL);

struct WriteOptions {
	// PNG compression, 0 to 9: 0 stores the data as they are; 1 matches runs only, which is fast
	// and on photographs as small as the higher levels; 2 to 9 are zlib's levels, slower, and
	// smaller on drawings and screenshots.
	int pngCompression = 1;
	// libjpeg quality for JPEG, 1 to 100.
	int jpegQuality = 90;
	// Whether a file that exists at the path is replaced or refused.
	Existing existing = Existing::kKeep;
	// The kind to write; kUnknown picks it by the file name's extension.
	ImageKind kind = ImageKind::kUnknown;
};

// Writes a B_RGB32 or B_RGBA32 bitmap to `path` as PNG or JPEG, chosen by the extension
// (.png, .jpg, .jpeg, any case); B_RGBA32 keeps its alpha in PNG, JPEG has no alpha. A PNG of a
// picture whose pixels are all grey is written as grey. The file appears complete or
// not at all: it is written through an AtomicFile (see there for links, permissions and existing
// files); on any failure nothing is left behind and an existing file at `path` is kept.
// Returns false and sets `error`, starting with the path, on failure.
// With `metadata`, the file carries it too.
bool WriteImage(const BBitmap& bitmap, const std::string& path, const WriteOptions& options,
                std::string& error, const ImageMetadata* metadata = NULL);

// Writes the bitmap to an open stream, such as standard output, as `options.kind` (which must be
// set) and flushes it; `label` names the stream in messages.
bool WriteImageStream(const BBitmap& bitmap, FILE* file, const std::string& label,
                      const WriteOptions& options, std::string& error,
                      const ImageMetadata* metadata = NULL);

#endif // IMAGE_FILE_H
