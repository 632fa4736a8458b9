#include "ImageTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <jpeglib.h>
#include <png.h>

namespace {

void AppendPngData(png_structp png, png_bytep data, size_t length)
{
	Bytes* bytes = static_cast<Bytes*>(png_get_io_ptr(png));
	bytes->insert(bytes->end(), data, data + length);
}

void IgnorePngWarning(png_structp, png_const_charp)
{
}

// libpng reports failures through longjmp; this frame holds plain data only.
bool EncodePngInto(const PngImage* image, Bytes* bytes, png_bytepp rows, png_textp texts)
{
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, IgnorePngWarning);
	png_infop info = png_create_info_struct(png);
	if (setjmp(png_jmpbuf(png))) {
		png_destroy_write_struct(&png, &info);
		return false;
	}
	png_set_write_fn(png, bytes, AppendPngData, NULL);
	// Bad files are made on purpose: palette indexes past the palette must get through.
	png_set_benign_errors(png, 1);
	png_set_check_for_invalid_index(png, 0);
	png_set_IHDR(png, info, image->width, image->height, image->bitDepth, image->colorType,
	             image->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
	             PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	if (!image->palette.empty()) {
		png_color colors[256];
		int count = (int)image->palette.size() / 3;
		for (int i = 0; i < count; i++)
			colors[i] = {image->palette[i * 3], image->palette[i * 3 + 1],
			             image->palette[i * 3 + 2]};
		png_set_PLTE(png, info, colors, count);
	}
	if (!image->paletteAlpha.empty()) {
		png_set_tRNS(png, info, image->paletteAlpha.data(), (int)image->paletteAlpha.size(), NULL);
	} else if (!image->transparentColor.empty()) {
		png_color_16 color = {};
		if (image->transparentColor.size() == 1) {
			color.gray = image->transparentColor[0];
		} else {
			color.red = image->transparentColor[0];
			color.green = image->transparentColor[1];
			color.blue = image->transparentColor[2];
		}
		png_set_tRNS(png, info, NULL, 0, &color);
	}
	if (!image->texts.empty())
		png_set_text(png, info, texts, (int)image->texts.size());
	png_write_info(png, info);
	png_set_interlace_handling(png);
	png_write_image(png, rows);
	png_write_end(png, NULL);
	png_destroy_write_struct(&png, &info);
	return true;
}

struct JpegFailure {
	jpeg_error_mgr manager;
	jmp_buf jump;
};

void FailJpeg(j_common_ptr info)
{
	longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}

// libjpeg reports failures through longjmp: the caller holds the structures it fills in.
// Successive approximation sends a coefficient's bits from this one down to bit 0.
const int kHighestBit = 10;

// The first `count` scans of a script that sends every coefficient of every component a bit at
// a time: it has far more scans than any encoder would write.
std::vector<jpeg_scan_info> ManyScans(int components, int count)
{
	std::vector<jpeg_scan_info> scans;
	auto add = [&scans](int first, int last, int component, int bit) {
		jpeg_scan_info scan = {};
		scan.comps_in_scan = component < 0 ? 0 : 1;
		scan.component_index[0] = component;
		scan.Ss = first;
		scan.Se = last;
		scan.Ah = bit == kHighestBit ? 0 : bit + 1;
		scan.Al = bit;
		scans.push_back(scan);
	};
	for (int bit = kHighestBit; bit >= 0; bit--) {
		add(0, 0, 0, bit);
		scans.back().comps_in_scan = components;
		for (int i = 0; i < components; i++)
			scans.back().component_index[i] = i;
	}
	for (int component = 0; component < components; component++) {
		for (int coefficient = 1; coefficient < 64; coefficient++) {
			for (int bit = kHighestBit; bit >= 0; bit--)
				add(coefficient, coefficient, component, bit);
		}
	}
	scans.resize(std::min<size_t>(scans.size(), count));
	return scans;
}

bool EncodeJpegInto(const JpegImage* image, const std::vector<jpeg_scan_info>* scans,
                    jpeg_compress_struct* info, JpegFailure* failure, unsigned char** data,
                    unsigned long* size)
{
	memset(info, 0, sizeof(*info));
	info->err = jpeg_std_error(&failure->manager);
	failure->manager.error_exit = FailJpeg;
	if (setjmp(failure->jump)) {
		jpeg_destroy_compress(info);
		free(*data);
		*data = NULL;
		return false;
	}
	jpeg_create_compress(info);
	jpeg_mem_dest(info, data, size);
	info->image_width = image->width;
	info->image_height = image->height;
	info->input_components = image->components;
	info->in_color_space = (J_COLOR_SPACE)image->inputSpace;
	jpeg_set_defaults(info);
	jpeg_set_colorspace(info, (J_COLOR_SPACE)image->fileSpace);
	info->write_Adobe_marker = image->adobeMarker;
	jpeg_set_quality(info, image->quality, TRUE);
	if (image->progressive)
		jpeg_simple_progression(info);
	if (!scans->empty()) {
		info->scan_info = scans->data();
		info->num_scans = (int)scans->size();
	}
	jpeg_start_compress(info, TRUE);
	if (!image->app1.empty())
		jpeg_write_marker(info, JPEG_APP0 + 1, image->app1.data(), (unsigned)image->app1.size());
	size_t rowBytes = (size_t)image->width * image->components;
	while (info->next_scanline < info->image_height) {
		JSAMPROW row = const_cast<uint8*>(image->samples.data() + info->next_scanline * rowBytes);
		jpeg_write_scanlines(info, &row, 1);
	}
	jpeg_finish_compress(info);
	jpeg_destroy_compress(info);
	return true;
}

} // namespace

Bytes EncodePng(const PngImage& image)
{
	std::vector<png_bytep> rows;
	for (const Bytes& row : image.rows)
		rows.push_back(const_cast<uint8*>(row.data()));
	std::vector<png_text> texts(image.texts.size());
	for (size_t i = 0; i < texts.size(); i++) {
		texts[i].compression = PNG_TEXT_COMPRESSION_zTXt;
		texts[i].key = const_cast<char*>(image.texts[i].first.c_str());
		texts[i].text = const_cast<char*>(image.texts[i].second.c_str());
		texts[i].text_length = image.texts[i].second.size();
	}
	Bytes bytes;
	EXPECT_TRUE(EncodePngInto(&image, &bytes, rows.data(), texts.data()))
	    << "libpng refused the test image";
	return bytes;
}

void WritePngFile(const std::string& path, const PngImage& image)
{
	WriteBytes(path, EncodePng(image));
}

Bytes EncodeJpeg(const JpegImage& image)
{
	unsigned char* data = NULL;
	unsigned long size = 0;
	jpeg_compress_struct info;
	JpegFailure failure;
	std::vector<jpeg_scan_info> scans;
	if (image.scans > 0)
		scans = ManyScans(image.components, image.scans);
	EXPECT_TRUE(EncodeJpegInto(&image, &scans, &info, &failure, &data, &size))
	    << "libjpeg refused the test image";
	Bytes bytes(data, data + size);
	free(data);
	return bytes;
}

void WriteJpegFile(const std::string& path, const JpegImage& image)
{
	WriteBytes(path, EncodeJpeg(image));
}
