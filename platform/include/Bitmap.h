// BBitmap: an image in memory, in one colour space, over a rectangle of pixel coordinates.
#ifndef _BITMAP_H
#define _BITMAP_H

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <GraphicsDefs.h>
#include <Rect.h>
#include <SupportDefs.h>

class BView;
class BBitmap;

namespace BPrivate {
BBitmap* AdoptSharedBitmap(int descriptor, BRect bounds, color_space space, bool writable);
BBitmap* WrapSharedBitmap(void* mapping, int descriptor, size_t length, BRect bounds,
                          color_space space, std::function<void()> release);
BBitmap* NewBitmapToOverwrite(BRect bounds, color_space space, bool acceptsViews);
} // namespace BPrivate

class BBitmap {
public:
	// Never throws. When the bounds are not finite, right lies left of left (or bottom above
	// top), the colour space is unknown, the pixel memory would pass kMaxBitsLength or cannot
	// be had, InitCheck() reports the error and Bits() is NULL. New pixel memory is zero.
	// needsContiguous is accepted for compatibility; all pixel memory is one block anyway.
	BBitmap(BRect bounds, color_space space, bool acceptsViews = false,
	        bool needsContiguous = false);
	virtual ~BBitmap();

	status_t InitCheck() const { return fInitStatus; }
	bool IsValid() const { return fInitStatus == B_OK; }

	void* Bits() const { return fBits; }
	int32 BitsLength() const { return static_cast<int32>(fBitsLength); }
	// For B_RGB32 and B_RGBA32 exactly 4 x (IntegerWidth() + 1): rows follow without gaps.
	// Other spaces pad each row to a multiple of 4 bytes.
	int32 BytesPerRow() const { return fBytesPerRow; }
	color_space ColorSpace() const { return fColorSpace; }
	BRect Bounds() const { return fBounds; }

	// Exclusive use of the bitmap and its attached views. Recursive: the thread that holds the
	// lock may take it again and must release it as often.
	bool Lock();
	void Unlock();
	bool IsLocked() const;

	// Views can be attached only to a bitmap made with acceptsViews, and to one bitmap at a
	// time; other requests are ignored. The bitmap does not own its views: deleting it
	// detaches them, deleting a view detaches it.
	virtual void AddChild(BView* view);
	virtual bool RemoveChild(BView* view);
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;

	// The largest pixel memory a bitmap will take, in bytes.
	static const int64 kMaxBitsLength = INT32_MAX;

private:
	friend BBitmap* BPrivate::AdoptSharedBitmap(int, BRect, color_space, bool);
	friend BBitmap* BPrivate::NewBitmapToOverwrite(BRect, color_space, bool);
	friend BBitmap* BPrivate::WrapSharedBitmap(void*, int, size_t, BRect, color_space,
	                                           std::function<void()>);

	BBitmap(const BBitmap&) = delete;
	BBitmap& operator=(const BBitmap&) = delete;

	// Over the shared memory `descriptor`; see SharedBitmap.h.
	BBitmap(BRect bounds, color_space space, int descriptor, bool writable);
	// With pixel memory that is not cleared first; see OverwriteBitmap.h.
	struct Uncleared {};
	BBitmap(BRect bounds, color_space space, bool acceptsViews, Uncleared);

	status_t _Layout(int64& bytesPerRow, size_t& length) const;
	status_t _Allocate(bool cleared);
	status_t _Adopt(int descriptor, bool writable);
	status_t _Wrap(void* mapping, int descriptor, size_t length, std::function<void()> release);

	BRect fBounds;
	color_space fColorSpace;
	bool fAcceptsViews;
	status_t fInitStatus;
	void* fBits;
	size_t fBitsLength;
	int32 fBytesPerRow;

	std::recursive_mutex fLock;
	std::atomic<std::thread::id> fLockOwner;
	int32 fLockCount;

	std::vector<BView*> fChildren;
};

#endif // _BITMAP_H
