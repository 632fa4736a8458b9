// Enlarger ("Double"): returns the image at double its size, interpolated between pixel centres.
#include <new>

#include <ImageFilter.h>
#include <OffscreenDraw.h>

class Enlarger : public ImageFilter {
public:
	Enlarger();
	virtual ~Enlarger();
	virtual BBitmap* Run(BBitmap* source);
};

Enlarger::Enlarger()
{
	id = 11;
	strcpy(name, "Double");
}

Enlarger::~Enlarger()
{
}

BBitmap* Enlarger::Run(BBitmap* source)
{
	if (source == NULL)
		return NULL;

	// An image n pixels wide becomes 2n - 1 wide, not 2n: the last index doubled. Likewise in
	// height. Computed in 64 bits, since doubling may pass the range of int32.
	BRect bounds = source->Bounds();
	int64 right = 2 * (int64)bounds.IntegerWidth();
	int64 bottom = 2 * (int64)bounds.IntegerHeight();
	return DrawScaledCopy(source, BRect(0, 0, (float)right, (float)bottom));
}

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) Enlarger;
}
