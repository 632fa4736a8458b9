// Fuzzes the TIFF reader with arbitrary bytes, then every add-on with what it decoded.
#include "FuzzAddons.h"
#include "ImageCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	return FuzzReader(ReadTiff, data, size);
}
