#include <Bitmap.h>

#include <algorithm>
#include <cmath>

#include <View.h>

#include "PixelMemory.h"

using BPrivate::AllocatePixelMemory;
using BPrivate::FreePixelMemory;

BBitmap::BBitmap(BRect bounds, color_space space, bool acceptsViews, bool /*needsContiguous*/)
    : fBounds(bounds), fColorSpace(space), fAcceptsViews(acceptsViews), fInitStatus(B_NO_INIT),
      fBits(NULL), fBitsLength(0), fBytesPerRow(0), fLockOwner(std::thread::id()), fLockCount(0)
{
	fInitStatus = _Allocate(true);
}

BBitmap::BBitmap(BRect bounds, color_space space, bool acceptsViews, Uncleared)
    : fBounds(bounds), fColorSpace(space), fAcceptsViews(acceptsViews), fInitStatus(B_NO_INIT),
      fBits(NULL), fBitsLength(0), fBytesPerRow(0), fLockOwner(std::thread::id()), fLockCount(0)
{
	fInitStatus = _Allocate(false);
}

BBitmap::BBitmap(BRect bounds, color_space space, int descriptor, bool writable)
    : fBounds(bounds), fColorSpace(space), fAcceptsViews(false), fInitStatus(B_NO_INIT),
      fBits(NULL), fBitsLength(0), fBytesPerRow(0), fLockOwner(std::thread::id()), fLockCount(0)
{
	fInitStatus = _Adopt(descriptor, writable);
}

BBitmap::~BBitmap()
{
	for (BView* view : fChildren)
		view->fBitmap = NULL;
	FreePixelMemory(fBits, fBitsLength);
}

status_t BBitmap::_Layout(int64& bytesPerRowOut, size_t& lengthOut) const
{
	if (!std::isfinite(fBounds.left) || !std::isfinite(fBounds.top) ||
	    !std::isfinite(fBounds.right) || !std::isfinite(fBounds.bottom))
		return B_BAD_VALUE;
	if (!fBounds.IsValid())
		return B_BAD_VALUE;

	int32 bitsPerPixel = bits_per_pixel(fColorSpace);
	if (bitsPerPixel == 0)
		return B_BAD_VALUE;

	// IntegerWidth() saturates at INT32_MAX, so that value means "too wide to count".
	if (fBounds.IntegerWidth() == INT32_MAX || fBounds.IntegerHeight() == INT32_MAX)
		return B_NO_MEMORY;
	int64 width = static_cast<int64>(fBounds.IntegerWidth()) + 1;
	int64 height = static_cast<int64>(fBounds.IntegerHeight()) + 1;
	if (width < 1 || height < 1)
		return B_BAD_VALUE;

	int64 bytesPerRow = (width * bitsPerPixel + 31) / 32 * 4;
	if (bytesPerRow > kMaxBitsLength || height > kMaxBitsLength / bytesPerRow)
		return B_NO_MEMORY;

	bytesPerRowOut = bytesPerRow;
	lengthOut = static_cast<size_t>(bytesPerRow * height);
	return B_OK;
}

status_t BBitmap::_Allocate(bool cleared)
{
	int64 bytesPerRow = 0;
	size_t length = 0;
	status_t status = _Layout(bytesPerRow, length);
	if (status != B_OK)
		return status;
	void* bits = AllocatePixelMemory(length, cleared);
	if (bits == NULL)
		return B_NO_MEMORY;

	fBits = bits;
	fBitsLength = length;
	fBytesPerRow = static_cast<int32>(bytesPerRow);
	return B_OK;
}

status_t BBitmap::_Adopt(int descriptor, bool writable)
{
	int64 bytesPerRow = 0;
	size_t length = 0;
	status_t status = _Layout(bytesPerRow, length);
	if (status != B_OK)
		return status;
	void* bits = BPrivate::AdoptSharedPixelMemory(descriptor, length, writable);
	if (bits == NULL)
		return B_BAD_VALUE;
	fBits = bits;
	fBitsLength = length;
	fBytesPerRow = static_cast<int32>(bytesPerRow);
	return B_OK;
}

status_t BBitmap::_Wrap(void* mapping, int descriptor, size_t available,
                        std::function<void()> release)
{
	int64 bytesPerRow = 0;
	size_t length = 0;
	status_t status = _Layout(bytesPerRow, length);
	if (status != B_OK)
		return status;
	if (length > available)
		return B_BAD_VALUE;
	BPrivate::WrapSharedPixelMemory(mapping, descriptor, length, std::move(release));
	fBits = mapping;
	fBitsLength = length;
	fBytesPerRow = static_cast<int32>(bytesPerRow);
	return B_OK;
}

bool BBitmap::Lock()
{
	fLock.lock();
	fLockOwner.store(std::this_thread::get_id());
	fLockCount++;
	return true;
}

void BBitmap::Unlock()
{
	if (!IsLocked())
		return;
	if (--fLockCount == 0)
		fLockOwner.store(std::thread::id());
	fLock.unlock();
}

bool BBitmap::IsLocked() const
{
	return fLockOwner.load() == std::this_thread::get_id();
}

void BBitmap::AddChild(BView* view)
{
	if (view == NULL || !fAcceptsViews || view->fBitmap != NULL)
		return;
	try {
		fChildren.push_back(view);
	} catch (...) {
		return;
	}
	view->fBitmap = this;
	view->fDrawStatus = B_OK;
}

bool BBitmap::RemoveChild(BView* view)
{
	auto found = std::find(fChildren.begin(), fChildren.end(), view);
	if (found == fChildren.end())
		return false;
	fChildren.erase(found);
	view->fBitmap = NULL;
	return true;
}

int32 BBitmap::CountChildren() const
{
	return static_cast<int32>(fChildren.size());
}

BView* BBitmap::ChildAt(int32 index) const
{
	if (index < 0 || index >= CountChildren())
		return NULL;
	return fChildren[index];
}
