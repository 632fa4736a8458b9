#include <AccessorDomain.h>

#include <new>

#include <OverwriteBitmap.h>

bool IsAccessorSource(const BBitmap* source)
{
	if (source == NULL || !source->IsValid() || source->Bits() == NULL)
		return false;
	color_space space = source->ColorSpace();
	if (space != B_RGB32 && space != B_RGBA32)
		return false;
	BRect bounds = source->Bounds();
	return bounds.left == 0 && bounds.top == 0;
}

BBitmap* CreateAccessorDestination(const BBitmap* source, BRect bounds, bool writesEveryPixel)
{
	if (!IsAccessorSource(source))
		return NULL;

	BBitmap* destination =
	    writesEveryPixel ? BPrivate::NewBitmapToOverwrite(bounds, source->ColorSpace())
	                     : new (std::nothrow) BBitmap(bounds, source->ColorSpace(), false, false);
	if (destination == NULL)
		return NULL;
	if (!destination->IsValid() || destination->Bits() == NULL) {
		delete destination;
		return NULL;
	}
	return destination;
}
