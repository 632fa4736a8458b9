// The contract between the host and every filter add-on.
//
// An add-on exports one C function, instantiate_filter(), that returns a new filter object. The
// host reads `id` and `name`, calls Run() as often as it likes, and deletes the object through
// the virtual destructor before it unloads the add-on. Add-on code never reads the fields after
// construction.
#ifndef IMAGE_FILTER_H
#define IMAGE_FILTER_H

#include <cstring>

#include <Bitmap.h>
#include <SupportDefs.h>

class ImageFilter {
public:
	ImageFilter()
	{
		id = 0;
		strcpy(name, "");
		spare = 0;
	}

	// Returns a new bitmap holding the filtered image, which the caller owns and releases with
	// delete, or NULL when nothing was produced (always for a NULL source). The source is only
	// read. Run keeps nothing in the object, so calls may come from several threads at once.
	virtual BBitmap* Run(BBitmap* source) = 0;

	virtual ~ImageFilter() {}

	int32 id;
	char name[256];
	int32 spare;
};

#define IMAGE_FILTER_EXPORT __attribute__((visibility("default")))

// Returns a new filter object owned by the caller, or NULL when it could not be allocated.
extern "C" IMAGE_FILTER_EXPORT ImageFilter* instantiate_filter();

typedef ImageFilter* (*instantiate_filter_func)();

#endif // IMAGE_FILTER_H
