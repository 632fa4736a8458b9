#include "GalleryPreview.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <OffscreenDraw.h>

namespace {

// JPEG and lossy WebP at this quality show no loss at preview size and keep a photograph's
// preview near a tenth of a megabyte.
const int kPreviewQuality = 80;

int32 ScaledSide(int32 side, int32 longest)
{
	int32 scaled = (int32)std::lround((double)side * kPreviewSide / longest);
	return std::max<int32>(scaled, 1);
}

} // namespace

const char* const kPreviewExtensions[2] = {"jpg", "webp"};

void PreviewSize(int32 width, int32 height, int32& previewWidth, int32& previewHeight)
{
	int32 longest = std::max(width, height);
	if (longest <= kPreviewSide) {
		previewWidth = width;
		previewHeight = height;
		return;
	}
	previewWidth = ScaledSide(width, longest);
	previewHeight = ScaledSide(height, longest);
}

const char* PreviewExtension(const BBitmap& bitmap)
{
	return bitmap.ColorSpace() == B_RGBA32 ? kPreviewExtensions[1] : kPreviewExtensions[0];
}

bool WritePreview(const BBitmap& bitmap, const std::string& path, Existing existing,
                  int32& previewWidth, int32& previewHeight, std::string& error)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	PreviewSize(width, height, previewWidth, previewHeight);

	std::unique_ptr<BBitmap> scaled;
	if (previewWidth != width || previewHeight != height) {
		scaled.reset(
		    DrawScaledCopy(&bitmap, BRect(0, 0, previewWidth - 1.0f, previewHeight - 1.0f)));
		if (scaled == NULL) {
			error = path + ": cannot scale the image down for its preview";
			return false;
		}
	}
	WriteOptions options;
	options.quality = kPreviewQuality;
	options.existing = existing;
	return WriteImage(scaled != NULL ? *scaled : bitmap, path, options, error);
}
