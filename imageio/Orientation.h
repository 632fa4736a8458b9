// The orientation a photograph's EXIF data gives (how a camera held sideways wants its pixels
// turned for viewing), and turning the pixels that way.
#ifndef ORIENTATION_H
#define ORIENTATION_H

#include <memory>

#include <Bitmap.h>

// The EXIF orientation (1 to 8) in `exif`, the payload of an APP1 segment or eXIf chunk after
// its "Exif\0\0" header: a TIFF structure. 1, upright, when there is none or the data are
// damaged.
int ExifOrientation(const uint8* exif, size_t size);

// The pixels of `bitmap`, a B_RGB32 or B_RGBA32 image stored with EXIF orientation
// `orientation`, turned and mirrored so that they stand as a viewer shows them: the bitmap itself
// for 1 (or any unknown value), otherwise a new one, NULL when there is no memory for it.
std::unique_ptr<BBitmap> Upright(std::unique_ptr<BBitmap> bitmap, int orientation);

#endif // ORIENTATION_H
