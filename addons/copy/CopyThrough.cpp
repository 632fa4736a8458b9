// CopyThrough ("My"): returns an exact copy of a 32-bit image.
#include <new>

#include <ImageFilter.h>
#include <PixelRemap.h>

class CopyThrough : public ImageFilter {
public:
	CopyThrough();
	virtual ~CopyThrough();
	virtual BBitmap* Run(BBitmap* source);
};

CopyThrough::CopyThrough()
{
	id = 100;
	strcpy(name, "My");
}

CopyThrough::~CopyThrough()
{
}

BBitmap* CopyThrough::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	BRect bounds = source->Bounds();
	static const PixelPlacement kInPlace = {
	    .xFromX = 1,
	    .xFromY = 0,
	    .xOffset = 0,
	    .yFromX = 0,
	    .yFromY = 1,
	    .yOffset = 0,
	};
	return RemapPixels(source, BRect(0, 0, bounds.right, bounds.bottom), kInPlace);
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) CopyThrough;
}
