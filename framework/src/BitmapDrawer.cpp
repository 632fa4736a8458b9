#include <BitmapDrawer.h>

BitmapDrawer::BitmapDrawer(BBitmap* bitmap)
    : bits(static_cast<uint32*>(bitmap->Bits())), rowLength(bitmap->BytesPerRow() / 4)
{
}
