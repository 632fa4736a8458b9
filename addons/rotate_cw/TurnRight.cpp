// TurnRight ("Rotate CW 90"): turns a 32-bit image a quarter turn clockwise.
#include <new>

#include <ImageFilter.h>
#include <PixelRemap.h>

class TurnRight : public ImageFilter {
public:
	TurnRight();
	virtual ~TurnRight();
	virtual BBitmap* Run(BBitmap* source);
};

TurnRight::TurnRight()
{
	id = 9;
	strcpy(name, "Rotate CW 90");
}

TurnRight::~TurnRight()
{
}

BBitmap* TurnRight::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// The source's top row becomes the rightmost column: (x, y) goes to (H - y, x).
	BRect bounds = source->Bounds();
	const PixelPlacement clockwise = {
	    .xFromX = 0,
	    .xFromY = -1,
	    .xOffset = bounds.IntegerHeight(),
	    .yFromX = 1,
	    .yFromY = 0,
	    .yOffset = 0,
	};
	return RemapPixels(source, BRect(0, 0, bounds.bottom, bounds.right), clockwise);
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) TurnRight;
}
