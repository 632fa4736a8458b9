#include <View.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include <Bitmap.h>

#include "AxisWeights.h"
#include "LiveViews.h"
#include "Resampler.h"

using BPrivate::AxisWeights;
using BPrivate::PixelSpan;

namespace {

std::atomic<int32> sLiveViews(0);

// Rectangles reaching further than this from a bitmap's origin cannot be drawn: no bitmap is
// that large, and every position along them stays exact in double.
const double kMaxCoordinate = 2147483648.0;

// The pixels a rectangle covers along one axis, counted from `origin`: it starts at the whole
// pixel nearest to `low` and has as many pixels as a bitmap over the same bounds. False when
// the coordinates are not finite, reversed or too far out.
bool ToSpan(float low, float high, double origin, PixelSpan& span)
{
	if (!std::isfinite(low) || !std::isfinite(high) || high < low)
		return false;
	double first = std::floor(low - origin + 0.5);
	double count = std::ceil((double)(high - low)) + 1;
	if (std::fabs(first) > kMaxCoordinate || count > kMaxCoordinate)
		return false;
	span = PixelSpan{(int64)first, (int64)count};
	return true;
}

// The part of `span` that lies within the first `limit` pixels; its count is 0 or less when
// there is none.
PixelSpan Within(PixelSpan span, int64 limit)
{
	int64 first = std::max<int64>(span.first, 0);
	int64 end = std::min(span.first + span.count, limit);
	return PixelSpan{first, end - first};
}

} // namespace

namespace BPrivate {

int32 CountLiveViews()
{
	return sLiveViews.load();
}

} // namespace BPrivate

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : fFrame(frame), fName(name != NULL ? name : ""), fResizingMode(resizingMode), fFlags(flags),
      fBitmap(NULL), fDrawStatus(B_OK)
{
	sLiveViews++;
}

BView::~BView()
{
	if (fBitmap != NULL)
		fBitmap->RemoveChild(this);
	sLiveViews--;
}

BRect BView::Bounds() const
{
	return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BView::DrawBitmap(const BBitmap* bitmap, BRect source, BRect destination)
{
	_SetDrawStatus(_DrawBitmap(bitmap, source, destination));
}

void BView::Sync() const
{
	// Drawing is done on the caller's thread before DrawBitmap() returns: nothing is pending.
}

status_t BView::_DrawBitmap(const BBitmap* bitmap, BRect source, BRect destination)
{
	if (fBitmap == NULL)
		return B_NO_INIT;
	if (!fBitmap->IsLocked())
		return B_NOT_ALLOWED;
	if (bitmap == NULL || bitmap->Bits() == NULL || fBitmap->Bits() == NULL)
		return B_BAD_VALUE;
	color_space space = bitmap->ColorSpace();
	if ((space != B_RGB32 && space != B_RGBA32) || fBitmap->ColorSpace() != space)
		return B_BAD_TYPE;

	// Source rectangles are in the source's coordinates, destination rectangles in the view's,
	// whose origin is the frame's corner in the target bitmap's coordinates.
	BRect from = bitmap->Bounds();
	BRect to = fBitmap->Bounds();
	PixelSpan sourceX, sourceY, destinationX, destinationY, frameX, frameY;
	if (!ToSpan(source.left, source.right, from.left, sourceX) ||
	    !ToSpan(source.top, source.bottom, from.top, sourceY) ||
	    !ToSpan(destination.left, destination.right, (double)to.left - fFrame.left, destinationX) ||
	    !ToSpan(destination.top, destination.bottom, (double)to.top - fFrame.top, destinationY) ||
	    !ToSpan(fFrame.left, fFrame.right, to.left, frameX) ||
	    !ToSpan(fFrame.top, fFrame.bottom, to.top, frameY))
		return B_BAD_VALUE;

	AxisWeights columns;
	AxisWeights rows;
	status_t status = columns.Compute(sourceX, (int64)from.IntegerWidth() + 1, destinationX,
	                                  Within(frameX, (int64)to.IntegerWidth() + 1));
	if (status != B_OK)
		return status;
	status = rows.Compute(sourceY, (int64)from.IntegerHeight() + 1, destinationY,
	                      Within(frameY, (int64)to.IntegerHeight() + 1));
	if (status != B_OK)
		return status;

	// A bitmap drawn into itself is read from a copy, so that no pixel is read after it was
	// overwritten.
	const uint8* bits = static_cast<const uint8*>(bitmap->Bits());
	std::unique_ptr<uint8[]> copy;
	if (bitmap == fBitmap) {
		copy.reset(new (std::nothrow) uint8[bitmap->BitsLength()]);
		if (copy == NULL)
			return B_NO_MEMORY;
		memcpy(copy.get(), bits, bitmap->BitsLength());
		bits = copy.get();
	}

	BPrivate::SourceRows sourceRows = {bits, (size_t)bitmap->BytesPerRow()};
	BPrivate::DestinationRows destinationRows = {static_cast<uint8*>(fBitmap->Bits()),
	                                             (size_t)fBitmap->BytesPerRow()};
	return BPrivate::ResamplePixels(sourceRows, destinationRows, columns, rows, space == B_RGBA32);
}

void BView::_SetDrawStatus(status_t status)
{
	if (fDrawStatus == B_OK)
		fDrawStatus = status;
}
