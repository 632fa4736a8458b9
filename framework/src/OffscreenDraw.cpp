#include <OffscreenDraw.h>

#include <memory>
#include <new>

#include <OverwriteBitmap.h>
#include <View.h>

BBitmap* DrawScaledCopy(const BBitmap* source, BRect bounds)
{
	// The drawing below covers every pixel of the destination.
	std::unique_ptr<BBitmap> destination(
	    BPrivate::NewBitmapToOverwrite(bounds, source->ColorSpace(), true));
	if (destination == NULL || destination->InitCheck() != B_OK)
		return NULL;
	std::unique_ptr<BView> view(new (std::nothrow)
	                                BView(bounds, "drawer", B_FOLLOW_NONE, B_WILL_DRAW));
	if (view == NULL)
		return NULL;
	if (!destination->Lock())
		return NULL;

	// The destination stays locked while the view is attached; the view goes after the unlock.
	destination->AddChild(view.get());
	view->DrawBitmap(source, source->Bounds(), bounds);
	view->Sync();
	status_t status = view->DrawStatus();
	destination->RemoveChild(view.get());
	destination->Unlock();
	view.reset();

	if (status != B_OK)
		return NULL;
	return destination.release();
}
