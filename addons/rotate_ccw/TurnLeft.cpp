// TurnLeft ("Rotate CCW 90"): turns a 32-bit image a quarter turn counter-clockwise.
#include <new>

#include <ImageFilter.h>
#include <PixelRemap.h>

class TurnLeft : public ImageFilter {
public:
	TurnLeft();
	virtual ~TurnLeft();
	virtual BBitmap* Run(BBitmap* source);
};

TurnLeft::TurnLeft()
{
	id = 8;
	strcpy(name, "Rotate CCW 90");
}

TurnLeft::~TurnLeft()
{
}

BBitmap* TurnLeft::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// The source's top row becomes the leftmost column, read upwards: (x, y) goes to (y, W - x).
	BRect bounds = source->Bounds();
	const PixelPlacement counterClockwise = {
	    .xFromX = 0,
	    .xFromY = 1,
	    .xOffset = 0,
	    .yFromX = -1,
	    .yFromY = 0,
	    .yOffset = bounds.IntegerWidth(),
	};
	return RemapPixels(source, BRect(0, 0, bounds.bottom, bounds.right), counterClockwise);
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) TurnLeft;
}
