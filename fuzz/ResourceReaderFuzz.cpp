// Feeds arbitrary bytes to the resource reader, both as a whole add-on file and as the bytes of
// a resource section, and renders whatever it accepts.
#include <cstddef>
#include <cstdint>

#include "ResourceReader.h"
#include "ResourceSection.h"
#include "ResourceText.h"

static void Describe(const std::vector<Resource>& resources)
{
	for (const Resource& resource : resources)
		DescribeResource(resource);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	std::vector<Resource> resources;
	std::string error;
	if (UnflattenResources(data, size, resources, error))
		Describe(resources);

	std::vector<char> image(data, data + size);
	if (ReadResourcesFromImage(image, "input", resources, error))
		Describe(resources);
	return 0;
}
