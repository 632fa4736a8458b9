// ReadImage and WriteImage: recognise the file kind and hand over to its codec.
#include "ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <vector>

#include <sys/stat.h>

#include "AtomicFile.h"
#include "ImageCodecs.h"
#include "Orientation.h"

namespace {

const size_t kReadBufferSize = 256 * 1024;

const uint8 kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint8 kJpegSignature[] = {0xff, 0xd8, 0xff};

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

// A stream that gives the bytes already taken from a stream that cannot go back (a pipe, a
// terminal, a device), then the rest of that stream.
class ReplayedStream {
public:
	ReplayedStream(const uint8* taken, size_t size, FILE* rest)
	    : fTaken(taken, taken + size), fOffset(0), fRest(rest), fFile(NULL)
	{
		cookie_io_functions_t functions = {};
		functions.read = _Read;
		fFile = fopencookie(this, "rb", functions);
		if (fFile != NULL)
			setvbuf(fFile, NULL, _IOFBF, kReadBufferSize);
	}
	~ReplayedStream()
	{
		if (fFile != NULL)
			fclose(fFile);
	}
	FILE* File() const { return fFile; }

private:
	static ssize_t _Read(void* cookie, char* buffer, size_t size)
	{
		ReplayedStream* stream = static_cast<ReplayedStream*>(cookie);
		if (stream->fOffset < stream->fTaken.size()) {
			size_t count = std::min(size, stream->fTaken.size() - stream->fOffset);
			memcpy(buffer, stream->fTaken.data() + stream->fOffset, count);
			stream->fOffset += count;
			return (ssize_t)count;
		}
		size_t count = fread(buffer, 1, size, stream->fRest);
		if (count == 0 && ferror(stream->fRest))
			return -1;
		return (ssize_t)count;
	}

	std::vector<uint8> fTaken;
	size_t fOffset;
	FILE* fRest;
	FILE* fFile;
};

std::unique_ptr<BBitmap> ReadKind(ImageKind kind, FILE* file, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata)
{
	return kind == ImageKind::kPng ? ReadPng(file, limits, error, metadata)
	                               : ReadJpeg(file, limits, error, metadata);
}

ImageKind KindOfSignature(const uint8* signature, size_t size)
{
	if (size == sizeof(kPngSignature) && memcmp(signature, kPngSignature, size) == 0)
		return ImageKind::kPng;
	if (size >= sizeof(kJpegSignature) &&
	    memcmp(signature, kJpegSignature, sizeof(kJpegSignature)) == 0)
		return ImageKind::kJpeg;
	return ImageKind::kUnknown;
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

// The kind to write `name` as, and whether the options can be carried out; sets `error`
// (without the name) when not.
bool CheckWrite(const BBitmap& bitmap, const std::string& name, const WriteOptions& options,
                ImageKind& kind, std::string& error)
{
	kind = options.kind != ImageKind::kUnknown ? options.kind : ImageKindOfPath(name);
	if (kind == ImageKind::kUnknown) {
		error = "unknown image kind; the name must end in .png, .jpg or .jpeg";
		return false;
	}
	if (!IsWritable(bitmap, error))
		return false;
	if (options.pngCompression < 0 || options.pngCompression > 9) {
		error = "PNG compression must be 0 to 9";
		return false;
	}
	if (options.jpegQuality < 1 || options.jpegQuality > 100) {
		error = "JPEG quality must be 1 to 100";
		return false;
	}
	return true;
}

bool WriteKind(const BBitmap& bitmap, FILE* file, ImageKind kind, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error)
{
	return kind == ImageKind::kPng ? WritePng(bitmap, file, options, metadata, error)
	                               : WriteJpeg(bitmap, file, options, metadata, error);
}

} // namespace

ImageKind ImageKindOfFormat(const std::string& format)
{
	if (strcasecmp(format.c_str(), "png") == 0)
		return ImageKind::kPng;
	if (strcasecmp(format.c_str(), "jpg") == 0 || strcasecmp(format.c_str(), "jpeg") == 0)
		return ImageKind::kJpeg;
	return ImageKind::kUnknown;
}

ImageKind ImageKindOfPath(const std::string& path)
{
	size_t slash = path.rfind('/');
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
		return ImageKind::kUnknown;
	return ImageKindOfFormat(path.substr(dot + 1));
}

std::unique_ptr<BBitmap> ReadImageStream(FILE* file, const std::string& label,
                                         const ImageLimits& limits, std::string& error,
                                         ImageMetadata* metadata)
{
	// The codecs report the orientation in the metadata, which is read whether or not the
	// caller keeps it.
	ImageMetadata read;
	if (metadata == NULL)
		metadata = &read;
	std::unique_ptr<BBitmap> bitmap;
	struct stat status;
	uint8 signature[sizeof(kPngSignature)];
	size_t got = 0;
	if (fstat(fileno(file), &status) != 0) {
		error = std::string("cannot read: ") + strerror(errno);
	} else if (S_ISDIR(status.st_mode)) {
		error = "is a folder, not an image file";
	} else if (S_ISREG(status.st_mode) && status.st_size == 0) {
		error = "empty file";
	} else if (got = fread(signature, 1, sizeof(signature), file), ferror(file)) {
		error = std::string("cannot read: ") + strerror(errno);
	} else if (got == 0) {
		error = "empty file";
	} else if (KindOfSignature(signature, got) == ImageKind::kUnknown) {
		error = "not a PNG or JPEG image";
	} else if (fseek(file, 0, SEEK_SET) == 0) {
		bitmap = ReadKind(KindOfSignature(signature, got), file, limits, error, metadata);
	} else {
		ReplayedStream replayed(signature, got, file);
		if (replayed.File() == NULL)
			error = std::string("cannot read: ") + strerror(errno);
		else
			bitmap =
			    ReadKind(KindOfSignature(signature, got), replayed.File(), limits, error, metadata);
	}
	if (bitmap != NULL && limits.autoOrient && metadata->orientation != 1) {
		bitmap = Upright(std::move(bitmap), metadata->orientation);
		metadata->orientation = 1;
		if (bitmap == NULL)
			error = "not enough memory to turn the image upright";
	}
	if (bitmap == NULL)
		error = label + ": " + error;
	return bitmap;
}

std::unique_ptr<BBitmap> ReadImage(const std::string& path, const ImageLimits& limits,
                                   std::string& error, ImageMetadata* metadata)
{
	InputFile input(path);
	if (input.File() == NULL) {
		error = path + ": cannot open: " + strerror(errno);
		return NULL;
	}
	setvbuf(input.File(), NULL, _IOFBF, kReadBufferSize);
	return ReadImageStream(input.File(), path, limits, error, metadata);
}

bool WriteImage(const BBitmap& bitmap, const std::string& path, const WriteOptions& options,
                std::string& error, const ImageMetadata* metadata)
{
	ImageKind kind;
	if (!CheckWrite(bitmap, path, options, kind, error)) {
		error = path + ": " + error;
		return false;
	}
	AtomicFile file(path, options.existing);
	if (file.InitCheck() != B_OK) {
		error = path + ": " + file.Error();
		return false;
	}
	if (!WriteKind(bitmap, file.File(), kind, options, metadata, error)) {
		error = path + ": " + error;
		return false;
	}
	if (!file.Commit()) {
		error = path + ": " + file.Error();
		return false;
	}
	return true;
}

bool WriteImageStream(const BBitmap& bitmap, FILE* file, const std::string& label,
                      const WriteOptions& options, std::string& error,
                      const ImageMetadata* metadata)
{
	ImageKind kind;
	if (!CheckWrite(bitmap, "", options, kind, error) ||
	    !WriteKind(bitmap, file, kind, options, metadata, error)) {
		error = label + ": " + error;
		return false;
	}
	if (fflush(file) != 0) {
		error = label + ": cannot write: " + strerror(errno);
		return false;
	}
	return true;
}
