// BRect: a rectangle of four float coordinates. Bounds (0, 0, W, H) cover W + 1 columns and
// H + 1 rows of pixels.
#ifndef _RECT_H
#define _RECT_H

#include <cmath>
#include <cstdint>

#include <SupportDefs.h>

class BRect {
public:
	float left;
	float top;
	float right;
	float bottom;

	BRect() : left(0), top(0), right(-1), bottom(-1) {}
	BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
	BRect(const BRect& other)
	    : left(other.left), top(other.top), right(other.right), bottom(other.bottom)
	{
	}
	BRect& operator=(const BRect& other) = default;

	float Width() const { return right - left; }
	float Height() const { return bottom - top; }

	// ceil(right - left) in double precision, truncated to int32. The difference is taken in
	// float, as the platform does. Values outside int32 saturate and NaN gives -1 (no pixels),
	// so that no rectangle makes the conversion undefined.
	int32 IntegerWidth() const { return _CeilToInt32(right - left); }
	int32 IntegerHeight() const { return _CeilToInt32(bottom - top); }

	// True when right is not left of left and bottom not above top (false for NaN).
	bool IsValid() const { return left <= right && top <= bottom; }

	bool operator==(const BRect& o) const
	{
		return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
	}
	bool operator!=(const BRect& o) const { return !(*this == o); }

private:
	static int32 _CeilToInt32(float difference)
	{
		double rounded = std::ceil(static_cast<double>(difference));
		if (std::isnan(rounded))
			return -1;
		if (rounded >= static_cast<double>(INT32_MAX))
			return INT32_MAX;
		if (rounded <= static_cast<double>(INT32_MIN))
			return INT32_MIN;
		return static_cast<int32>(rounded);
	}
};

#endif // _RECT_H
