// FlipHorizFilter ("Flip Horizontal"): mirrors a 32-bit image about its horizontal axis, so the
// top row becomes the bottom row and every row keeps its left-to-right order.
#include <new>

#include <ImageFilter.h>
#include <PixelRemap.h>

class FlipHorizFilter : public ImageFilter {
public:
	FlipHorizFilter();
	virtual ~FlipHorizFilter();
	virtual BBitmap* Run(BBitmap* source);
};

FlipHorizFilter::FlipHorizFilter()
{
	id = 5;
	strcpy(name, "Flip Horizontal");
}

FlipHorizFilter::~FlipHorizFilter()
{
}

BBitmap* FlipHorizFilter::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// (x, y) goes to (x, H - y).
	BRect bounds = source->Bounds();
	const PixelPlacement rowsReversed = {
	    .xFromX = 1,
	    .xFromY = 0,
	    .xOffset = 0,
	    .yFromX = 0,
	    .yFromY = -1,
	    .yOffset = bounds.IntegerHeight(),
	};
	return RemapPixels(source, bounds, rowsReversed);
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) FlipHorizFilter;
}
