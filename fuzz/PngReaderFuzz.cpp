// Fuzzes the PNG reader with arbitrary bytes, then every add-on with what it decoded.
#include <cstdio>

#include "FuzzAddons.h"
#include "ImageCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	// fmemopen refuses an empty buffer; the readers see empty input through ReadImage only.
	if (size == 0)
		return 0;
	FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
	if (file == NULL)
		return 0;
	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadPng(file, FuzzLimits(), error);
	fclose(file);
	if (bitmap != NULL)
		RunEveryAddon(bitmap.get());
	return 0;
}
