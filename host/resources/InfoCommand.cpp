#include "InfoCommand.h"

#include <cstdio>
#include <cstring>

#include "AddonLoader.h"
#include "IconPng.h"
#include "PlatformResources.h"
#include "ResourceReader.h"
#include "ResourceText.h"

// The filter's id: small numbers as they are, four-character codes also spelled out.
static std::string FilterIdText(int32 id)
{
	std::string code = TypeCodeText((uint32)id);
	if (id > 0xFFFF && code[0] == '\'')
		return code + " (" + std::to_string(id) + ")";
	return std::to_string(id);
}

static bool ShowFilter(const std::string& path)
{
	std::string error;
	std::shared_ptr<Addon> addon = Addon::Load(path, error);
	FilterPtr filter =
	    addon == nullptr ? FilterPtr(NULL, FilterDeleter{}) : addon->Instantiate(error);
	if (filter == nullptr) {
		fprintf(stderr, "%s\n", error.c_str());
		return false;
	}
	printf(
	    "  filter id %s, name %s\n", FilterIdText(filter->id).c_str(),
	    QuotedText(std::string(filter->name, strnlen(filter->name, sizeof(filter->name)))).c_str());
	return true;
}

static bool WriteIcon(const std::string& path, const std::vector<Resource>& resources, uint32 type,
                      const char* kind, const std::string& iconDir)
{
	for (const Resource& resource : resources) {
		if (resource.type != type || resource.id != kIconResourceId || IconSide(resource) == 0)
			continue;
		std::string fileName = path.substr(path.find_last_of('/') + 1);
		std::string iconPath = iconDir + "/" + fileName + "-" + kind + ".png";
		std::string error;
		if (!WriteIconPng(resource, iconPath, error)) {
			fprintf(stderr, "%s\n", error.c_str());
			return false;
		}
		printf("  wrote %s\n", iconPath.c_str());
		return true;
	}
	fprintf(stderr, "%s: no complete %s icon to write\n", path.c_str(), kind);
	return false;
}

int RunInfo(const std::vector<std::string>& addons, const std::string& iconDir)
{
	int status = 0;
	for (const std::string& path : addons) {
		printf("%s\n", path.c_str());
		bool complete = ShowFilter(path);
		std::vector<Resource> resources;
		std::string error;
		if (!ReadResources(path, resources, error)) {
			fprintf(stderr, "%s\n", error.c_str());
			status = 1;
			continue;
		}
		for (const Resource& resource : resources)
			printf("  %s\n", DescribeResource(resource).c_str());
		if (!iconDir.empty())
			complete = WriteIcon(path, resources, kLargeIconType, "large", iconDir) &&
			           WriteIcon(path, resources, kMiniIconType, "mini", iconDir) && complete;
		if (!complete)
			status = 1;
	}
	fflush(stdout);
	return status;
}
