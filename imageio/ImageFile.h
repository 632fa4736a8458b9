// Reading and writing image files, each kind through its reference library: PNG (libpng), JPEG
// (libjpeg-turbo), WebP (libwebp), TIFF (libtiff), HEIC and AVIF (libheif).
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
	kWebp,
	kTiff,
	// HEIC is read only: its encoder's patents keep it out of most systems' libheif.
	kHeic,
	kAvif,
};

// The kind a format's name stands for, in any case: "png", "jpg", "jpeg", "webp", "tif", "tiff",
// "heic", "heif", "avif"; kUnknown for any other.
ImageKind ImageKindOfFormat(const std::string& format);
// The kind's name as users know it: "PNG", "JPEG", "WebP", "TIFF", "HEIC", "AVIF".
const char* ImageKindName(ImageKind kind);
// Whether files of the kind can be written, not only read.
bool ImageKindWritable(ImageKind kind);
// The kind a path's extension stands for, as ImageKindOfFormat() reads it.
ImageKind ImageKindOfPath(const std::string& path);
// The kind the first bytes of the file at `path` show, kUnknown for a file of no kind this
// library reads (an empty one included). Returns false, with `error` naming the file, when the
// file cannot be opened or read.
bool ImageKindOfContent(const std::string& path, ImageKind& kind, std::string& error);
// The kind a file named `name` is written as: `chosen` unless it is kUnknown, otherwise the
// kind its extension names. Returns false, with `error` (without the name), when that is no
// kind this library writes.
bool OutputImageKind(const std::string& name, ImageKind chosen, ImageKind& kind,
                     std::string& error);

// What an image file carries besides its pixels that is kept from the file read to the files
// written from it.
struct ImageMetadata {
	// The embedded ICC colour profile, uncompressed, byte for byte; empty when there is none.
	// The pixels are never converted: the profile says what their stored values mean.
	std::vector<uint8> iccProfile;
	// The EXIF orientation of the pixels as read: 1 once ReadImage() has turned them upright.
	int orientation = 1;
	// The EXIF data as a TIFF structure (from "II*\0" or "MM\0*"), without the "Exif\0\0"
	// that JPEG, and some writers of WebP and HEIF, put in front; empty when there is none.
	std::vector<uint8> exif;
	// The XMP packet; empty when there is none.
	std::string xmp;
	// IPTC-IIM records, as a JPEG's Photoshop segment or a TIFF's IPTC tag holds them.
	std::vector<uint8> iptc;
	// A PNG's text chunks other than XMP, in file order.
	struct Text {
		std::string keyword;
		std::string text;
		// UTF-8 text of an iTXt chunk; otherwise Latin-1, as tEXt and zTXt hold.
		bool utf8 = false;
	};
	std::vector<Text> texts;
	// Pixels per unit across and down, as the file gives them (PNG pHYs, JFIF density, TIFF
	// resolution); kNone when the file gives none.
	struct Resolution {
		enum Unit { kNone, kAspectOnly, kInch, kCentimetre, kMetre } unit = kNone;
		double x = 0;
		double y = 0;
	} resolution;
	// What reading did to the picture that its user should hear of, one line each without the
	// file name: "16-bit channels reduced to 8 bits", "the first of 3 pages".
	std::vector<std::string> notes;
};

// Size limits checked from a file's header, before any pixel memory is allocated.
struct ImageLimits {
	int64 maxSide = 16384;
	int64 maxPixels = 64 * 1000 * 1000;
	// Called with the image's size once it has passed the limits above, before its pixel
	// memory is allocated; returning false, with `error` set, refuses the file. The caller may
	// wait there for memory to become free.
	std::function<bool(int64 width, int64 height, std::string& error)> admit;
	// Called with each bitmap made for the image's pixels, before they are decoded into it: the
	// caller may start work on its memory that overlaps the decoding.
	std::function<void(const BBitmap& bitmap)> allocated;
	// Whether a photograph's EXIF orientation is applied, so that the bitmap stands as viewers
	// show it; otherwise the pixels come as stored.
	bool autoOrient = true;
};

// Reads the image file at `path`, its kind recognised by its content, into a new bitmap: B_RGBA32
// when the image has alpha, otherwise B_RGB32 with every fourth byte 255. Returns NULL and sets
// `error` to a message that starts with the path when the file cannot be read, is of no kind
// this library reads, is damaged or goes past `limits`.
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
	// smaller on drawings and screenshots. TIFF is deflated at the same level (0: not at all).
	int pngCompression = 1;
	// Quality of the lossy kinds (JPEG, lossy WebP, AVIF), 1 to 100; 0 picks each kind's
	// default: 90 for JPEG, 80 for WebP, 60 for AVIF.
	int quality = 0;
	// WebP and AVIF are written losslessly; the quality does not apply then.
	bool lossless = false;
	// Whether a file that exists at the path is replaced or refused.
	Existing existing = Existing::kKeep;
	// The kind to write; kUnknown picks it by the file name's extension.
	ImageKind kind = ImageKind::kUnknown;
};

// Writes a B_RGB32 or B_RGBA32 bitmap to `path` as the kind its extension names (see
// ImageKindOfFormat); B_RGBA32 keeps its alpha except in JPEG, which has none. A PNG of a
// picture whose pixels are all grey is written as grey. The file appears complete or
// not at all: it is written through an AtomicFile (see there for links, permissions and existing
// files); on any failure nothing is left behind and an existing file at `path` is kept.
// Returns false and sets `error`, starting with the path, on failure.
// With `metadata`, the file carries it too, mended where it would be false of the bitmap: the EXIF
// and XMP sizes become the bitmap's, the orientation the one in `metadata`, and the EXIF
// thumbnail, a picture of the source, is dropped. AVIF has no orientation tag that viewers
// follow alike: a picture not upright is turned upright as it is written there.
bool WriteImage(const BBitmap& bitmap, const std::string& path, const WriteOptions& options,
                std::string& error, const ImageMetadata* metadata = NULL);

// Writes the bitmap to an open stream, such as standard output, as `options.kind` (which must be
// set) and flushes it; `label` names the stream in messages.
bool WriteImageStream(const BBitmap& bitmap, FILE* file, const std::string& label,
                      const WriteOptions& options, std::string& error,
                      const ImageMetadata* metadata = NULL);

#endif // IMAGE_FILE_H
