#include "IconFile.h"

#include "Icon.h"

bool WriteIconFile(const Resource& icon, const std::string& path, const WriteOptions& options,
                   std::string& error)
{
	std::unique_ptr<BBitmap> bitmap = IconBitmap(icon);
	if (bitmap == NULL) {
		error = path + ": the resource is not a complete icon";
		return false;
	}
	return WriteImage(*bitmap, path, options, error);
}
