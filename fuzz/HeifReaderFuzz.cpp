// Fuzzes the HEIC and AVIF reader with arbitrary bytes, then every add-on with what it decoded.
#include "FuzzAddons.h"
#include "ImageCodecs.h"

// libheif 1.15's dav1d plugin loses the buffer it makes with dav1d_data_create when dav1d
// refuses some damaged streams, 40 bytes each; LeakSanitizer would stop fuzzing at the first.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libdav1d.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	// Read as stored too, where the reader takes the file's transformations apart itself.
	ImageLimits limits = FuzzLimits();
	limits.autoOrient = false;
	std::string error;
	ImageMetadata metadata;
	ReadHeif(data, size, limits, error, &metadata);
	return FuzzReader(ReadHeif, data, size);
}
