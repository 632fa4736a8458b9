// Shrinker ("Half"): returns the image at half its size, each pixel the average of the area it
// covers.
#include <new>

#include <ImageFilter.h>
#include <OffscreenDraw.h>

class Shrinker : public ImageFilter {
public:
	Shrinker();
	virtual ~Shrinker();
	virtual BBitmap* Run(BBitmap* source);
};

Shrinker::Shrinker()
{
	id = 10;
	strcpy(name, "Half");
}

Shrinker::~Shrinker()
{
}

BBitmap* Shrinker::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// An image n pixels wide becomes (n - 1) / 2 + 1 wide: the last index halved, rounding
	// down. Likewise in height.
	BRect bounds = source->Bounds();
	int32 right = bounds.IntegerWidth() / 2;
	int32 bottom = bounds.IntegerHeight() / 2;
	return DrawScaledCopy(source, BRect(0, 0, right, bottom));
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) Shrinker;
}
