#include "TiffFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

namespace {

// libtiff reports what it cannot tie to an open file through handlers of the whole process,
// which would print on standard error; the messages of each open file go to its own handlers.
// Set before main() starts any thread.
const bool sLibraryQuiet = [] {
	TIFFSetErrorHandler(NULL);
	TIFFSetWarningHandler(NULL);
	return true;
}();

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size)
{
	TiffMemory* file = static_cast<TiffMemory*>(handle);
	const uint8* data = file->data != NULL ? file->data : file->bytes.data();
	toff_t end = file->data != NULL ? file->size : file->bytes.size();
	if (size <= 0 || file->position >= end)
		return 0;
	tmsize_t count = (tmsize_t)std::min<toff_t>((toff_t)size, end - file->position);
	memcpy(buffer, data + file->position, count);
	file->position += count;
	return count;
}

tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size)
{
	TiffMemory* file = static_cast<TiffMemory*>(handle);
	if (file->data != NULL || size < 0)
		return -1;
	const uint8* bytes = static_cast<const uint8*>(data);
	try {
		// libtiff appends but for the header and the directory's offset, which it rewrites.
		if (file->position > file->bytes.size())
			file->bytes.resize(file->position);
		size_t overwritten = std::min<size_t>(size, file->bytes.size() - file->position);
		memcpy(file->bytes.data() + file->position, bytes, overwritten);
		file->bytes.insert(file->bytes.end(), bytes + overwritten, bytes + size);
	} catch (const std::bad_alloc&) {
		return -1;
	}
	file->position += size;
	return size;
}

toff_t SizeProc(thandle_t handle)
{
	TiffMemory* file = static_cast<TiffMemory*>(handle);
	return file->data != NULL ? file->size : file->bytes.size();
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
	TiffMemory* file = static_cast<TiffMemory*>(handle);
	switch (whence) {
	case SEEK_SET:
		file->position = offset;
		break;
	case SEEK_CUR:
		file->position += offset;
		break;
	case SEEK_END:
		file->position = SizeProc(handle) + offset;
		break;
	default:
		return (toff_t)-1;
	}
	return file->position;
}

int CloseProc(thandle_t)
{
	return 0;
}

// A file read is mapped, so that libtiff decodes the compressed data where they are, without
// copying them; it never writes through the mapping of a file opened for reading.
int MapProc(thandle_t handle, void** base, toff_t* size)
{
	TiffMemory* file = static_cast<TiffMemory*>(handle);
	if (file->data == NULL)
		return 0;
	*base = const_cast<uint8*>(file->data);
	*size = file->size;
	return 1;
}

void UnmapProc(thandle_t, void*, toff_t)
{
}

int HandleError(TIFF*, void* user, const char*, const char* format, va_list arguments)
{
	char* error = static_cast<char*>(user);
	if (error[0] != '\0')
		return 1;
	vsnprintf(error, 256, format, arguments);
	// Some messages end in the codec's own explanation, which may be empty.
	size_t length = strlen(error);
	while (length > 0 && strchr(": ", error[length - 1]) != NULL)
		error[--length] = '\0';
	return 1;
}

int HandleWarning(TIFF*, void*, const char*, const char*, va_list)
{
	return 1;
}

} // namespace

TiffFile::TiffFile(TiffMemory* memory, const char* mode, tmsize_t allocationLimit) : fTiff(NULL)
{
	static_assert(sizeof(fError) == 256, "HandleError writes at most 256 bytes");
	fError[0] = '\0';
	TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
	if (options == NULL)
		return;
	if (allocationLimit > 0)
		TIFFOpenOptionsSetMaxSingleMemAlloc(options, allocationLimit);
	TIFFOpenOptionsSetErrorHandlerExtR(options, HandleError, fError);
	TIFFOpenOptionsSetWarningHandlerExtR(options, HandleWarning, NULL);
	fTiff = TIFFClientOpenExt("TIFF", mode, memory, ReadProc, WriteProc, SeekProc, CloseProc,
	                          SizeProc, MapProc, UnmapProc, options);
	TIFFOpenOptionsFree(options);
}

TiffFile::~TiffFile()
{
	if (fTiff != NULL)
		TIFFClose(fTiff);
}

std::string TiffFile::Failure(const char* what, const std::string& otherwise) const
{
	return std::string(what) + " (" + (fError[0] != '\0' ? fError : otherwise) + ")";
}
