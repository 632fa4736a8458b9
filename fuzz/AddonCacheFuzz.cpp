// Feeds arbitrary bytes to the reader of the add-on folder's cache file, which a user or another
// program may have left in any state. What it accepts must write back to the same text and read
// again to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AddonCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	std::string text(reinterpret_cast<const char*>(data), size);
	AddonCache cache;
	if (!cache.Parse(text)) {
		if (!cache.Entries().empty())
			abort();
		return 0;
	}
	std::string written = cache.Format();
	AddonCache again;
	if (!again.Parse(written) || again.Format() != written ||
	    again.Entries().size() != cache.Entries().size())
		abort();
	return 0;
}
