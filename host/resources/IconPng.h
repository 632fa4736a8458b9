// Writing an add-on's icons as PNG images.
#ifndef ICON_PNG_H
#define ICON_PNG_H

#include <string>
#include <vector>

#include "Resource.h"

// The side of the square icon `resource` holds: 32 for a large icon, 16 for a mini icon, 0 when
// it is no icon or its data do not have the icon's size.
int32 IconSide(const Resource& resource);

// The standard icon of `type` (kLargeIconType or kMiniIconType) among `resources`, when it is
// there and complete; NULL otherwise.
const Resource* FindIcon(const std::vector<Resource>& resources, uint32 type);

// Writes the icon as an 8-bit RGBA PNG, transparent pixels with alpha 0. The file appears
// complete or not at all: the image goes to a temporary file in the same folder that is then
// renamed to `path`. Returns false and sets `error`, starting with the path, on failure.
bool WriteIconPng(const Resource& icon, const std::string& path, std::string& error);

#endif // ICON_PNG_H
