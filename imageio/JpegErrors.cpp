// Turns libjpeg's failures, and in strict mode its warnings, into a message and a longjmp.
#include "JpegErrors.h"

#include <cerrno>
#include <cstring>

#include <jerror.h>

namespace {

// Sound files of kinds this build of libjpeg cannot decode, such as 12-bit or lossless JPEG.
bool IsUnsupported(int code)
{
	return code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED ||
	       code == JERR_NOT_COMPILED || code == JERR_NOTIMPL;
}

[[noreturn]] void Fail(j_common_ptr info)
{
	JpegErrors* errors = reinterpret_cast<JpegErrors*>(info->err);
	int code = errors->manager.msg_code;
	if (code == JWRN_JPEG_EOF) {
		snprintf(errors->message, sizeof(errors->message), "truncated JPEG data");
	} else if (code == JERR_FILE_READ || code == JERR_FILE_WRITE) {
		snprintf(errors->message, sizeof(errors->message), "cannot %s: %s",
		         code == JERR_FILE_READ ? "read" : "write", strerror(errno));
	} else {
		char text[JMSG_LENGTH_MAX];
		errors->manager.format_message(info, text);
		snprintf(errors->message, sizeof(errors->message), "%s (%s)",
		         IsUnsupported(code) ? "unsupported kind of JPEG" : errors->failure, text);
	}
	longjmp(errors->jump, 1);
}

// Level -1 is a warning: libjpeg has met damaged data and goes on with made-up pixels. A
// warning that concerns only metadata is let through.
void FailOnWarning(j_common_ptr info, int level)
{
	if (level >= 0)
		return;
	int code = info->err->msg_code;
	if (code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC)
		return;
	Fail(info);
}

void IgnoreMessage(j_common_ptr, int)
{
}

} // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrors* errors, const char* failure, bool strict)
{
	errors->failure = failure;
	jpeg_std_error(&errors->manager);
	errors->manager.error_exit = Fail;
	errors->manager.emit_message = strict ? FailOnWarning : IgnoreMessage;
	errors->message[0] = '\0';
	return &errors->manager;
}
