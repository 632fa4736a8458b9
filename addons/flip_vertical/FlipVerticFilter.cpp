// FlipVerticFilter ("Flip Vertical"): mirrors a 32-bit image about its vertical axis, so every
// row is reversed left to right and the rows keep their order.
#include <new>

#include <ImageFilter.h>
#include <PixelRemap.h>

class FlipVerticFilter : public ImageFilter {
public:
	FlipVerticFilter();
	virtual ~FlipVerticFilter();
	virtual BBitmap* Run(BBitmap* source);
};

FlipVerticFilter::FlipVerticFilter()
{
	id = 4;
	strcpy(name, "Flip Vertical");
}

FlipVerticFilter::~FlipVerticFilter()
{
}

BBitmap* FlipVerticFilter::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// (x, y) goes to (W - x, y).
	BRect bounds = source->Bounds();
	const PixelPlacement eachRowReversed = {
	    .xFromX = -1,
	    .xFromY = 0,
	    .xOffset = bounds.IntegerWidth(),
	    .yFromX = 0,
	    .yFromY = 1,
	    .yOffset = 0,
	};
	return RemapPixels(source, bounds, eachRowReversed);
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) FlipVerticFilter;
}
