// libjpeg error handling shared by the JPEG reader and writer: failures leave libjpeg through
// longjmp with the message kept, so everything that lives in a function calling setjmp is
// plain data without destructors.
#ifndef JPEG_ERRORS_H
#define JPEG_ERRORS_H

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegErrors {
	jpeg_error_mgr manager;
	jmp_buf jump;
	const char* failure;
	char message[JMSG_LENGTH_MAX + 64];
};

// Sets up `errors` for one libjpeg object and returns the manager to put in its `err` field.
// Messages read "<failure> (<libjpeg's words>)". When `strict`, warnings about damaged data are
// failures too.
jpeg_error_mgr* InitJpegErrors(JpegErrors* errors, const char* failure, bool strict);

#endif // JPEG_ERRORS_H
