#include "IconPng.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool WriteIconPng(const Resource& icon, const std::string& path, std::string& error)
{
	int32 side = IconSide(icon);
	if (side == 0) {
		error = path + ": the resource is not a complete icon";
		return false;
	}
	std::vector<uint8> pixels;
	for (uint8 index : icon.data) {
		rgb_color color = SystemColor(index);
		pixels.insert(pixels.end(), {color.red, color.green, color.blue, color.alpha});
	}

	std::string temporary = path + ".XXXXXX";
	int fd = mkstemp(temporary.data());
	if (fd < 0) {
		error = path + ": cannot create: " + strerror(errno);
		return false;
	}
	// mkstemp makes the file private; an icon is as readable as any other image.
	fchmod(fd, 0644);
	FILE* file = fdopen(fd, "wb");
	if (file == NULL) {
		error = path + ": cannot create: " + strerror(errno);
		close(fd);
		unlink(temporary.c_str());
		return false;
	}

	png_image image;
	memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	image.width = (png_uint_32)side;
	image.height = (png_uint_32)side;
	image.format = PNG_FORMAT_RGBA;
	bool written = png_image_write_to_stdio(&image, file, 0, pixels.data(), side * 4, NULL) != 0;
	if (!written)
		error = path + ": cannot write PNG: " + image.message;
	png_image_free(&image);
	if (written && (fflush(file) != 0 || fsync(fileno(file)) != 0)) {
		error = path + ": cannot write: " + strerror(errno);
		written = false;
	}
	if (fclose(file) != 0 && written) {
		error = path + ": cannot write: " + strerror(errno);
		written = false;
	}
	if (written && rename(temporary.c_str(), path.c_str()) != 0) {
		error = path + ": cannot create: " + strerror(errno);
		written = false;
	}
	if (!written)
		unlink(temporary.c_str());
	return written;
}
