// Writing 32-bit bitmaps as 8-bit RGB or RGBA PNG files through libpng.
#include "ImageCodecs.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include <png.h>

namespace {

// What the libpng callbacks share; plain data only, because libpng leaves a failing call
// through longjmp.
struct PngOutput {
	FILE* file;
	char message[256];
};

[[noreturn]] void HandleError(png_structp png, png_const_charp message)
{
	PngOutput* output = static_cast<PngOutput*>(png_get_error_ptr(png));
	if (output->message[0] == '\0')
		snprintf(output->message, sizeof(output->message), "cannot encode PNG (%s)", message);
	png_longjmp(png, 1);
}

void HandleWarning(png_structp, png_const_charp)
{
}

void WriteData(png_structp png, png_bytep data, size_t length)
{
	PngOutput* output = static_cast<PngOutput*>(png_get_io_ptr(png));
	if (fwrite(data, 1, length, output->file) == length)
		return;
	snprintf(output->message, sizeof(output->message), "cannot write: %s", strerror(errno));
	png_error(png, output->message);
}

// The caller flushes and syncs the whole file once it is complete.
void FlushData(png_structp)
{
}

bool WriteRows(png_structp png, png_infop info, const BBitmap* bitmap, int compression)
{
	if (setjmp(png_jmpbuf(png)))
		return false;

	bool hasAlpha = bitmap->ColorSpace() == B_RGBA32;
	uint32 width = bitmap->Bounds().IntegerWidth() + 1;
	uint32 height = bitmap->Bounds().IntegerHeight() + 1;
	png_set_IHDR(png, info, width, height, 8,
	             hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
	             PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	png_set_compression_level(png, compression);
	png_write_info(png, info);

	png_set_bgr(png);
	if (!hasAlpha)
		png_set_filler(png, 0, PNG_FILLER_AFTER);
	const uint8* bits = static_cast<const uint8*>(bitmap->Bits());
	for (uint32 y = 0; y < height; y++) {
		// libpng copies each row before it transforms it; the bitmap stays untouched.
		png_write_row(png, const_cast<uint8*>(bits + (size_t)y * bitmap->BytesPerRow()));
	}
	png_write_end(png, NULL);
	return true;
}

class PngWriteStruct {
public:
	PngWriteStruct(PngOutput* output)
	{
		fPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, output, HandleError, HandleWarning);
		fInfo = fPng != NULL ? png_create_info_struct(fPng) : NULL;
		if (fInfo != NULL)
			png_set_write_fn(fPng, output, WriteData, FlushData);
	}
	~PngWriteStruct() { png_destroy_write_struct(&fPng, &fInfo); }

	png_structp Png() const { return fPng; }
	png_infop Info() const { return fInfo; }

private:
	png_structp fPng;
	png_infop fInfo;
};

} // namespace

bool WritePng(const BBitmap& bitmap, FILE* file, const WriteOptions& options, std::string& error)
{
	PngOutput output = {file, ""};
	PngWriteStruct writer(&output);
	if (writer.Info() == NULL) {
		error = "not enough memory to write PNG";
		return false;
	}
	if (!WriteRows(writer.Png(), writer.Info(), &bitmap, options.pngCompression)) {
		error = output.message;
		return false;
	}
	return true;
}
