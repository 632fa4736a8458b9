// BView: a drawing surface with a frame and a name. Attached to a bitmap with
// BBitmap::AddChild(), drawing in the view lands in that bitmap.
//
// Drawing reports no result of its own, as on the platform. A view instead keeps the first
// failure of the drawing requested on it: after Sync(), DrawStatus() is B_OK when everything was
// drawn, or says why something was not (and that something drew nothing at all). Attaching the
// view to a bitmap starts it afresh.
#ifndef _VIEW_H
#define _VIEW_H

#include <string>

#include <Rect.h>
#include <SupportDefs.h>

class BBitmap;

// Resizing modes.
enum { B_FOLLOW_NONE = 0 };

// View flags.
enum { B_WILL_DRAW = 0x20000000 };

class BView {
public:
	BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
	virtual ~BView();

	BRect Frame() const { return fFrame; }
	// The frame moved to the origin: the view's own coordinates.
	BRect Bounds() const;
	const char* Name() const { return fName.c_str(); }
	uint32 ResizingMode() const { return fResizingMode; }
	uint32 Flags() const { return fFlags; }

	// The bitmap the view is attached to, or NULL.
	BBitmap* Bitmap() const { return fBitmap; }

	// Draws the `source` rectangle of `bitmap` (in its bounds' coordinates), scaled to fill the
	// `destination` rectangle (in the view's coordinates). Reducing averages the source area of
	// each pixel, enlarging interpolates between pixel centres; a B_RGBA32 bitmap is weighed by
	// alpha (where only fully transparent pixels are read, the result is transparent black), a
	// B_RGB32 bitmap byte by byte. What lies outside either bitmap or outside the view is left
	// out. The caller must hold the lock of the bitmap the view is attached to.
	// Draws nothing and records in DrawStatus(): B_NO_INIT when the view is not attached,
	// B_NOT_ALLOWED when that bitmap is not locked by the calling thread, B_BAD_TYPE unless both
	// bitmaps are B_RGB32 or both B_RGBA32, B_BAD_VALUE for no bitmap or pixel memory, a
	// rectangle that is not finite, reversed, or has no pixel inside its bitmap, and
	// B_NO_MEMORY when working memory cannot be had.
	void DrawBitmap(const BBitmap* bitmap, BRect source, BRect destination);

	// Returns once all drawing requested on the view is done.
	void Sync() const;

	// B_OK, or the first failure of the drawing requested since the view was made or last
	// attached.
	status_t DrawStatus() const { return fDrawStatus; }

private:
	friend class BBitmap;

	BView(const BView&) = delete;
	BView& operator=(const BView&) = delete;

	status_t _DrawBitmap(const BBitmap* bitmap, BRect source, BRect destination);
	void _SetDrawStatus(status_t status);

	BRect fFrame;
	std::string fName;
	uint32 fResizingMode;
	uint32 fFlags;
	BBitmap* fBitmap;
	status_t fDrawStatus;
};

#endif // _VIEW_H
