// A count of the views that exist, for tests that check nothing leaves a view behind. Not part of
// the kit's interface.
#ifndef LIVE_VIEWS_H
#define LIVE_VIEWS_H

#include <SupportDefs.h>

namespace BPrivate {

// Views constructed and not yet destroyed, in the whole process.
int32 CountLiveViews();

} // namespace BPrivate

#endif // LIVE_VIEWS_H
