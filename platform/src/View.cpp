#include <View.h>

#include <Bitmap.h>

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
	: fFrame(frame),
	  fName(name != NULL ? name : ""),
	  fResizingMode(resizingMode),
	  fFlags(flags),
	  fBitmap(NULL)
{
}

BView::~BView()
{
	if (fBitmap != NULL)
		fBitmap->RemoveChild(this);
}

BRect
BView::Bounds() const
{
	return BRect(0, 0, fFrame.Width(), fFrame.Height());
}
