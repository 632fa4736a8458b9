// An add-on's icons: finding them among its resources and turning them into bitmaps.
#ifndef ICON_H
#define ICON_H

#include <memory>
#include <vector>

#include <Bitmap.h>

#include "Resource.h"

// The side of the square icon `resource` holds: 32 for a large icon, 16 for a mini icon, 0 when
// it is no icon or its data do not have the icon's size.
int32 IconSide(const Resource& resource);

// The standard icon of `type` (kLargeIconType or kMiniIconType) among `resources`, when it is
// there and complete; NULL otherwise.
const Resource* FindIcon(const std::vector<Resource>& resources, uint32 type);

// The icon as a B_RGBA32 bitmap, its colours looked up in the system colour map and transparent
// pixels with alpha 0. NULL when `icon` is not a complete icon or no bitmap can be had.
std::unique_ptr<BBitmap> IconBitmap(const Resource& icon);

#endif // ICON_H
