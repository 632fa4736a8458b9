#include "Icon.h"

#include <new>

#include "ColorMap.h"
#include "PlatformResources.h"

int32 IconSide(const Resource& resource)
{
	int32 side = 0;
	if (resource.type == kLargeIconType)
		side = kLargeIconSide;
	else if (resource.type == kMiniIconType)
		side = kMiniIconSide;
	if (resource.data.size() != (size_t)side * side)
		return 0;
	return side;
}

const Resource* FindIcon(const std::vector<Resource>& resources, uint32 type)
{
	for (const Resource& resource : resources) {
		if (resource.type == type && resource.id == kIconResourceId && IconSide(resource) != 0)
			return &resource;
	}
	return NULL;
}

std::unique_ptr<BBitmap> IconBitmap(const Resource& icon)
{
	int32 side = IconSide(icon);
	if (side == 0)
		return NULL;
	std::unique_ptr<BBitmap> bitmap(new (std::nothrow)
	                                    BBitmap(BRect(0, 0, side - 1, side - 1), B_RGBA32));
	if (bitmap == NULL || !bitmap->IsValid())
		return NULL;

	for (int32 y = 0; y < side; y++) {
		uint8* row = static_cast<uint8*>(bitmap->Bits()) + (size_t)y * bitmap->BytesPerRow();
		for (int32 x = 0; x < side; x++) {
			rgb_color color = SystemColor(icon.data[(size_t)y * side + x]);
			// The bytes of a pixel word in memory: blue, green, red, alpha.
			uint8* pixel = row + x * 4;
			pixel[0] = color.blue;
			pixel[1] = color.green;
			pixel[2] = color.red;
			pixel[3] = color.alpha;
		}
	}
	return bitmap;
}
