// ReadImage and WriteImage: recognise the file kind and hand over to its codec.
#include "ImageFile.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

#include <sys/stat.h>

#include "AtomicFile.h"
#include "ImageCodecs.h"

namespace {

const size_t kReadBufferSize = 256 * 1024;

const uint8 kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint8 kJpegSignature[] = {0xff, 0xd8, 0xff};

enum ImageKind { kUnknownKind, kPngKind, kJpegKind };

ImageKind KindOfExtension(const std::string& path)
{
	size_t slash = path.rfind('/');
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
		return kUnknownKind;
	const char* extension = path.c_str() + dot + 1;
	if (strcasecmp(extension, "png") == 0)
		return kPngKind;
	if (strcasecmp(extension, "jpg") == 0 || strcasecmp(extension, "jpeg") == 0)
		return kJpegKind;
	return kUnknownKind;
}

class InputFile {
public:
	InputFile(const std::string& path) : fFile(fopen(path.c_str(), "rbe")) {}
	~InputFile()
	{
		if (fFile != NULL)
			fclose(fFile);
	}
	FILE* File() const { return fFile; }

private:
	FILE* fFile;
};

std::unique_ptr<BBitmap> ReadStream(FILE* file, const ImageLimits& limits, std::string& error)
{
	struct stat status;
	if (fstat(fileno(file), &status) != 0) {
		error = std::string("cannot read: ") + strerror(errno);
		return NULL;
	}
	if (S_ISDIR(status.st_mode)) {
		error = "is a folder, not an image file";
		return NULL;
	}
	if (S_ISREG(status.st_mode) && status.st_size == 0) {
		error = "empty file";
		return NULL;
	}

	uint8 signature[sizeof(kPngSignature)];
	size_t got = fread(signature, 1, sizeof(signature), file);
	if (ferror(file)) {
		error = std::string("cannot read: ") + strerror(errno);
		return NULL;
	}
	if (fseek(file, 0, SEEK_SET) != 0) {
		error = std::string("cannot read: ") + strerror(errno);
		return NULL;
	}
	if (got == sizeof(kPngSignature) && memcmp(signature, kPngSignature, got) == 0)
		return ReadPng(file, limits, error);
	if (got >= sizeof(kJpegSignature) &&
	    memcmp(signature, kJpegSignature, sizeof(kJpegSignature)) == 0)
		return ReadJpeg(file, limits, error);
	error = "not a PNG or JPEG image";
	return NULL;
}

bool IsWritable(const BBitmap& bitmap, std::string& error)
{
	if (!bitmap.IsValid()) {
		error = "the bitmap holds no image";
		return false;
	}
	if (bitmap.ColorSpace() != B_RGB32 && bitmap.ColorSpace() != B_RGBA32) {
		error = "only B_RGB32 and B_RGBA32 bitmaps can be written";
		return false;
	}
	return true;
}

} // namespace

std::unique_ptr<BBitmap> ReadImage(const std::string& path, const ImageLimits& limits,
                                   std::string& error)
{
	InputFile input(path);
	if (input.File() == NULL) {
		error = path + ": cannot open: " + strerror(errno);
		return NULL;
	}
	setvbuf(input.File(), NULL, _IOFBF, kReadBufferSize);
	std::unique_ptr<BBitmap> bitmap = ReadStream(input.File(), limits, error);
	if (bitmap == NULL)
		error = path + ": " + error;
	return bitmap;
}

bool WriteImage(const BBitmap& bitmap, const std::string& path, const WriteOptions& options,
                std::string& error)
{
	ImageKind kind = KindOfExtension(path);
	if (kind == kUnknownKind) {
		error = path + ": unknown image kind; the name must end in .png, .jpg or .jpeg";
		return false;
	}
	if (!IsWritable(bitmap, error)) {
		error = path + ": " + error;
		return false;
	}
	if (options.pngCompression < 0 || options.pngCompression > 9) {
		error = path + ": PNG compression must be 0 to 9";
		return false;
	}
	if (options.jpegQuality < 1 || options.jpegQuality > 100) {
		error = path + ": JPEG quality must be 1 to 100";
		return false;
	}

	AtomicFile file(path, options.existing);
	if (file.InitCheck() != B_OK) {
		error = path + ": " + file.Error();
		return false;
	}
	bool written = kind == kPngKind ? WritePng(bitmap, file.File(), options, error)
	                                : WriteJpeg(bitmap, file.File(), options, error);
	if (!written) {
		error = path + ": " + error;
		return false;
	}
	if (!file.Commit()) {
		error = path + ": " + file.Error();
		return false;
	}
	return true;
}
