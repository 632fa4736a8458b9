// BView: a drawing surface with a frame and a name. Attached to a bitmap with
// BBitmap::AddChild(), drawing in the view lands in that bitmap.
#ifndef _VIEW_H
#define _VIEW_H

#include <string>

#include <Rect.h>
#include <SupportDefs.h>

class BBitmap;

// Resizing modes.
enum {
	B_FOLLOW_NONE = 0
};

// View flags.
enum {
	B_WILL_DRAW = 0x20000000
};

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

private:
	friend class BBitmap;

	BView(const BView&) = delete;
	BView& operator=(const BView&) = delete;

	BRect fFrame;
	std::string fName;
	uint32 fResizingMode;
	uint32 fFlags;
	BBitmap* fBitmap;
};

#endif // _VIEW_H
