// The picture a gallery page shows for each image: a copy scaled down to at most kPreviewSide
// pixels a side, in a kind that keeps photographs small, linked to the full image.
#ifndef GALLERY_PREVIEW_H
#define GALLERY_PREVIEW_H

#include <string>

#include <Bitmap.h>

#include "ImageFile.h"

// The longest side of a preview, in pixels.
const int32 kPreviewSide = 1024;

// The size of the preview of a `width` x `height` image: scaled down, its proportions kept as
// nearly as whole pixels allow, until both sides fit kPreviewSide; the image's own size when it
// fits already. No side becomes less than one pixel.
void PreviewSize(int32 width, int32 height, int32& previewWidth, int32& previewHeight);

// The extension of the preview of `bitmap`, as its kind: "jpg" for an opaque image (B_RGB32),
// "webp", which keeps alpha, for one with alpha.
const char* PreviewExtension(const BBitmap& bitmap);
// Both extensions a preview may have, for claiming its file before the image is known.
extern const char* const kPreviewExtensions[2];

// Writes the preview of `bitmap` to `path`, whose extension must be PreviewExtension(bitmap),
// and sets `previewWidth` and `previewHeight` to its size. The image is reduced as the kit draws
// a bitmap scaled: each pixel the average of the area it covers. Returns false and sets
// `error`, starting with the path, on failure; nothing is left behind then.
bool WritePreview(const BBitmap& bitmap, const std::string& path, Existing existing,
                  int32& previewWidth, int32& previewHeight, std::string& error);

#endif // GALLERY_PREVIEW_H
