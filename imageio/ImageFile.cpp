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
#include "Metadata.h"
#include "Orientation.h"

namespace {

const size_t kReadBufferSize = 256 * 1024;

// Enough of a file's start to tell its kind.
const size_t kSignatureSize = 12;
const uint8 kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint8 kJpegSignature[] = {0xff, 0xd8, 0xff};

// What a file may hold beside its pixels (metadata, padding) before it is refused unread: the
// kinds read from memory take the whole file at once.
const int64 kMaxOverhead = 256 * 1024 * 1024;

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

ImageKind KindOfSignature(const uint8* signature, size_t size)
{
	if (size >= sizeof(kPngSignature) &&
	    memcmp(signature, kPngSignature, sizeof(kPngSignature)) == 0)
		return ImageKind::kPng;
	if (size >= sizeof(kJpegSignature) &&
	    memcmp(signature, kJpegSignature, sizeof(kJpegSignature)) == 0)
		return ImageKind::kJpeg;
	if (size >= 12 && memcmp(signature, "RIFF", 4) == 0 && memcmp(signature + 8, "WEBP", 4) == 0)
		return ImageKind::kWebp;
	// Classic and big TIFF, in either byte order.
	if (size >= 4 && (memcmp(signature, "II*\0", 4) == 0 || memcmp(signature, "MM\0*", 4) == 0 ||
	                  memcmp(signature, "II+\0", 4) == 0 || memcmp(signature, "MM\0+", 4) == 0))
		return ImageKind::kTiff;
	// A HEIF file starts with its file type box, whose major brand names the codec; a
	// still-image file may name only the general brand "mif1" and is read the same way.
	if (size >= 12 && memcmp(signature + 4, "ftyp", 4) == 0) {
		const uint8* brand = signature + 8;
		if (memcmp(brand, "avif", 4) == 0 || memcmp(brand, "avis", 4) == 0)
			return ImageKind::kAvif;
		for (const char* heif : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
			if (memcmp(brand, heif, 4) == 0)
				return ImageKind::kHeic;
	}
	return ImageKind::kUnknown;
}

// Reads what is left of `file` after the `taken` bytes into `bytes`, refusing a file larger than
// any image within `limits` can be.
bool ReadWhole(FILE* file, const uint8* taken, size_t takenSize, const ImageLimits& limits,
               std::vector<uint8>& bytes, std::string& error)
{
	const int64 maxSize = std::min<int64>(limits.maxPixels, INT64_MAX / 16) * 8 + kMaxOverhead;
	bytes.assign(taken, taken + takenSize);
	struct stat status;
	if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > maxSize) {
		error = "the file is larger than any image within the size limits";
		return false;
	}
	for (;;) {
		size_t used = bytes.size();
		if ((int64)used > maxSize) {
			error = "the file is larger than any image within the size limits";
			return false;
		}
		try {
			bytes.resize(used + kReadBufferSize);
		} catch (const std::bad_alloc&) {
			error = "not enough memory to read the file";
			return false;
		}
		size_t got = fread(bytes.data() + used, 1, kReadBufferSize, file);
		bytes.resize(used + got);
		if (got < kReadBufferSize) {
			if (ferror(file)) {
				error = std::string("cannot read: ") + strerror(errno);
				return false;
			}
			return true;
		}
	}
}

// Hands a stream whose first `takenSize` bytes (the signature) have already been read to the
// codec of its kind.
std::unique_ptr<BBitmap> ReadKind(ImageKind kind, FILE* file, const uint8* taken, size_t takenSize,
                                  const ImageLimits& limits, std::string& error,
                                  ImageMetadata* metadata)
{
	if (kind == ImageKind::kPng || kind == ImageKind::kJpeg) {
		auto read = kind == ImageKind::kPng ? ReadPng : ReadJpeg;
		if (fseek(file, 0, SEEK_SET) == 0)
			return read(file, limits, error, metadata);
		ReplayedStream replayed(taken, takenSize, file);
		if (replayed.File() == NULL) {
			error = std::string("cannot read: ") + strerror(errno);
			return NULL;
		}
		return read(replayed.File(), limits, error, metadata);
	}
	std::vector<uint8> bytes;
	if (!ReadWhole(file, taken, takenSize, limits, bytes, error))
		return NULL;
	if (kind == ImageKind::kWebp)
		return ReadWebp(bytes.data(), bytes.size(), limits, error, metadata);
	if (kind == ImageKind::kTiff)
		return ReadTiff(bytes.data(), bytes.size(), limits, error, metadata);
	return ReadHeif(bytes.data(), bytes.size(), limits, error, metadata);
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
	if (!OutputImageKind(name, options.kind, kind, error))
		return false;
	if (!IsWritable(bitmap, error))
		return false;
	if (options.pngCompression < 0 || options.pngCompression > 9) {
		error = "PNG compression must be 0 to 9";
		return false;
	}
	if (options.quality < 0 || options.quality > 100) {
		error = "quality must be 1 to 100";
		return false;
	}
	return true;
}

bool WriteKind(const BBitmap& bitmap, FILE* file, ImageKind kind, const WriteOptions& options,
               const ImageMetadata* metadata, std::string& error)
{
	ImageMetadata mended;
	if (metadata != NULL) {
		mended = MendedMetadata(*metadata, bitmap.Bounds().IntegerWidth() + 1,
		                        bitmap.Bounds().IntegerHeight() + 1);
		metadata = &mended;
	}
	switch (kind) {
	case ImageKind::kPng:
		return WritePng(bitmap, file, options, metadata, error);
	case ImageKind::kJpeg:
		return WriteJpeg(bitmap, file, options, metadata, error);
	case ImageKind::kWebp:
		return WriteWebp(bitmap, file, options, metadata, error);
	case ImageKind::kTiff:
		return WriteTiff(bitmap, file, options, metadata, error);
	case ImageKind::kAvif:
		return WriteAvif(bitmap, file, options, metadata, error);
	default:
		error = "cannot write this kind of file";
		return false;
	}
}

} // namespace

ImageKind ImageKindOfFormat(const std::string& format)
{
	static const struct {
		const char* name;
		ImageKind kind;
	} kNames[] = {
	    {"png", ImageKind::kPng},   {"jpg", ImageKind::kJpeg},  {"jpeg", ImageKind::kJpeg},
	    {"webp", ImageKind::kWebp}, {"tif", ImageKind::kTiff},  {"tiff", ImageKind::kTiff},
	    {"heic", ImageKind::kHeic}, {"heif", ImageKind::kHeic}, {"avif", ImageKind::kAvif},
	};
	for (const auto& name : kNames)
		if (strcasecmp(format.c_str(), name.name) == 0)
			return name.kind;
	return ImageKind::kUnknown;
}

const char* ImageKindName(ImageKind kind)
{
	switch (kind) {
	case ImageKind::kPng:
		return "PNG";
	case ImageKind::kJpeg:
		return "JPEG";
	case ImageKind::kWebp:
		return "WebP";
	case ImageKind::kTiff:
		return "TIFF";
	case ImageKind::kHeic:
		return "HEIC";
	case ImageKind::kAvif:
		return "AVIF";
	default:
		return "unknown";
	}
}

bool ImageKindWritable(ImageKind kind)
{
	return kind != ImageKind::kUnknown && kind != ImageKind::kHeic;
}

int QualityFor(const WriteOptions& options, int kindDefault)
{
	return options.quality > 0 ? options.quality : kindDefault;
}

ImageKind ImageKindOfPath(const std::string& path)
{
	size_t slash = path.rfind('/');
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
		return ImageKind::kUnknown;
	return ImageKindOfFormat(path.substr(dot + 1));
}

bool ImageKindOfContent(const std::string& path, ImageKind& kind, std::string& error)
{
	InputFile input(path);
	if (input.File() == NULL) {
		error = path + ": cannot open: " + strerror(errno);
		return false;
	}
	uint8 signature[kSignatureSize];
	size_t got = fread(signature, 1, sizeof(signature), input.File());
	if (ferror(input.File())) {
		error = path + ": cannot read: " + strerror(errno);
		return false;
	}
	kind = KindOfSignature(signature, got);
	return true;
}

bool OutputImageKind(const std::string& name, ImageKind chosen, ImageKind& kind, std::string& error)
{
	kind = chosen != ImageKind::kUnknown ? chosen : ImageKindOfPath(name);
	if (kind == ImageKind::kUnknown) {
		error = "unknown image kind; the name must end in .png, .jpg, .jpeg, .webp, .tif, .tiff "
		        "or .avif";
		return false;
	}
	if (!ImageKindWritable(kind)) {
		error = std::string(ImageKindName(kind)) + " files can be read but not written";
		return false;
	}
	return true;
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
	uint8 signature[kSignatureSize];
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
		error = "not an image file of a kind this program reads (PNG, JPEG, WebP, TIFF, HEIC, "
		        "AVIF)";
	} else {
		bitmap = ReadKind(KindOfSignature(signature, got), file, signature, got, limits, error,
		                  metadata);
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
