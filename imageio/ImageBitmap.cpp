// The one place where a size taken from a file's header becomes pixel memory.
#include "ImageCodecs.h"

#include <new>

// Bounds are floats, which hold every integer up to 2^24 exactly.
static const int64 kMaxExactSide = 1 << 24;

std::unique_ptr<BBitmap> CreateImageBitmap(uint32 width, uint32 height, bool hasAlpha,
                                           const ImageLimits& limits, std::string& error)
{
	std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
	if (width == 0 || height == 0) {
		error = "the image has no pixels (" + size + ")";
		return NULL;
	}
	if ((int64)width > limits.maxSide || (int64)height > limits.maxSide) {
		error = "the image is " + size + ", more than the limit of " +
		        std::to_string(limits.maxSide) + " pixels a side";
		return NULL;
	}
	// Both factors are below 2^32, so the product fits in 64 bits.
	int64 pixels = (int64)width * (int64)height;
	if (pixels > limits.maxPixels) {
		error = "the image is " + size + ", more than the limit of " +
		        std::to_string(limits.maxPixels) + " pixels";
		return NULL;
	}
	if (pixels > BBitmap::kMaxBitsLength / 4 || width > kMaxExactSide || height > kMaxExactSide) {
		error = "the image is " + size + ", too large for one bitmap";
		return NULL;
	}
	if (limits.admit && !limits.admit(width, height, error)) {
		error = "the image of " + size + " " + error;
		return NULL;
	}

	std::unique_ptr<BBitmap> bitmap(new (std::nothrow) BBitmap(
	    BRect(0, 0, width - 1.0f, height - 1.0f), hasAlpha ? B_RGBA32 : B_RGB32));
	if (bitmap == NULL || !bitmap->IsValid()) {
		error = "not enough memory for " + size;
		return NULL;
	}
	if (limits.allocated)
		limits.allocated(*bitmap);
	return bitmap;
}
