// Status codes returned by the imaging kit; B_OK is success, everything else is negative.
#ifndef _ERRORS_H
#define _ERRORS_H

#include <climits>

#define B_GENERAL_ERROR_BASE INT_MIN

enum {
	B_NO_MEMORY = B_GENERAL_ERROR_BASE + 0,
	B_IO_ERROR,
	B_PERMISSION_DENIED,
	B_BAD_INDEX,
	B_BAD_TYPE,
	B_BAD_VALUE,
	B_MISMATCHED_VALUES,
	B_NAME_NOT_FOUND,
	B_NAME_IN_USE,
	B_TIMED_OUT,
	B_INTERRUPTED,
	B_WOULD_BLOCK,
	B_CANCELED,
	B_NO_INIT,
	B_BUSY,
	B_NOT_ALLOWED,

	B_ERROR = -1,
	B_OK = 0,
	B_NO_ERROR = 0
};

#endif // _ERRORS_H
