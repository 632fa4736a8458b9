// Reading the primary image of HEIC and AVIF files, both HEIF containers, into 32-bit bitmaps
// through libheif, with its colour profile, EXIF and XMP data.
#include "ImageCodecs.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

#include <libheif/heif.h>

#include "Av1Decoder.h"
#include "HeifObjects.h"
#include "Metadata.h"

namespace {

struct OptionsDeleter {
	void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

constexpr uint32 FourCC(const char (&code)[5])
{
	return (uint32)code[0] << 24 | (uint32)code[1] << 16 | (uint32)code[2] << 8 | (uint32)code[3];
}

// libheif's messages read "<kind of error>: <detail>[: <more>]"; the kind is what our own words
// say, so only the rest is kept.
std::string Detail(const heif_error& result)
{
	std::string message = result.message != NULL ? result.message : "";
	size_t colon = message.find(": ");
	if (colon != std::string::npos)
		message.erase(0, colon + 2);
	const std::string unspecified = "Unspecified";
	if (message.compare(0, unspecified.size(), unspecified) == 0)
		message.erase(0, std::min(message.size(), unspecified.size() + 2));
	while (!message.empty() && isspace((unsigned char)message.back()))
		message.pop_back();
	return message;
}

std::string Describe(const heif_error& result)
{
	std::string detail = Detail(result);
	// The codecs' plugins tell no more than that they failed.
	if (detail.empty() && result.code == heif_error_Decoder_plugin_error)
		detail = "its compressed image cannot be decoded";
	std::string parenthesised = detail.empty() ? "" : " (" + detail + ")";
	switch (result.code) {
	case heif_error_Unsupported_feature:
	case heif_error_Unsupported_filetype:
		return "unsupported kind of HEIF image" + parenthesised;
	case heif_error_Memory_allocation_error:
		// "Security limit exceeded: <which limit>": the limit is what counts.
		if (result.subcode == heif_suberror_Security_limit_exceeded) {
			size_t colon = detail.find(": ");
			return "the HEIF image is beyond the size limits (" +
			       (colon != std::string::npos ? detail.substr(colon + 2) : detail) + ")";
		}
		return "not enough memory to read HEIF";
	default:
		return "damaged HEIF data" + parenthesised;
	}
}

uint32 BigEndian(const uint8* bytes, size_t count)
{
	uint32 value = 0;
	for (size_t i = 0; i < count; i++)
		value = value << 8 | bytes[i];
	return value;
}

// A box of the file: its type and its payload.
struct Box {
	uint32 type;
	const uint8* data;
	size_t size;
};

// The boxes that `data` holds one after another, up to the first that does not fit.
std::vector<Box> Boxes(const uint8* data, size_t size)
{
	std::vector<Box> boxes;
	size_t offset = 0;
	while (size - offset >= 8) {
		const uint8* start = data + offset;
		uint64 boxSize = BigEndian(start, 4);
		uint32 type = BigEndian(start + 4, 4);
		size_t header = 8;
		if (boxSize == 1) {
			if (size - offset < 16)
				break;
			boxSize = (uint64)BigEndian(start + 8, 4) << 32 | BigEndian(start + 12, 4);
			header = 16;
		} else if (boxSize == 0) {
			boxSize = size - offset;
		}
		if (type == FourCC("uuid"))
			header += 16;
		if (boxSize < header || boxSize > size - offset)
			break;
		boxes.push_back({type, start + header, (size_t)boxSize - header});
		offset += boxSize;
	}
	return boxes;
}

const Box* FindBox(const std::vector<Box>& boxes, uint32 type)
{
	for (const Box& box : boxes)
		if (box.type == type)
			return &box;
	return NULL;
}

// The indexes into 'ipco' (from 1) of the properties that an 'ipma' box associates with `item`,
// in their order.
void AddAssociations(const Box& ipma, heif_item_id item, std::vector<uint32>& indexes)
{
	const uint8* data = ipma.data;
	const uint8* end = ipma.data + ipma.size;
	if (end - data < 8)
		return;
	uint32 version = data[0];
	bool wideIndexes = (data[3] & 1) != 0;
	uint32 count = BigEndian(data + 4, 4);
	data += 8;
	size_t idSize = version < 1 ? 2 : 4;
	size_t indexSize = wideIndexes ? 2 : 1;
	uint32 indexMask = wideIndexes ? 0x7fff : 0x7f;
	for (uint32 i = 0; i < count; i++) {
		if ((size_t)(end - data) < idSize + 1)
			return;
		uint32 id = BigEndian(data, idSize);
		uint32 associations = data[idSize];
		data += idSize + 1;
		if ((size_t)(end - data) < associations * indexSize)
			return;
		for (uint32 j = 0; id == item && j < associations; j++)
			indexes.push_back(BigEndian(data + j * indexSize, indexSize) & indexMask);
		data += associations * indexSize;
	}
}

// How a picture is turned to be shown: mirrored from left to right or not, then turned
// `quarters` quarter turns clockwise.
struct Turn {
	bool mirrored = false;
	int quarters = 0;

	// Each turns the picture further, after what the turn did already.
	void Rotate(int clockwiseQuarters) { quarters = (quarters + clockwiseQuarters) & 3; }
	void MirrorLeftRight()
	{
		mirrored = !mirrored;
		quarters = -quarters & 3;
	}
	void MirrorTopBottom()
	{
		MirrorLeftRight();
		Rotate(2);
	}

	// The EXIF orientation that asks for this turn.
	int Orientation() const
	{
		static const int kPlain[4] = {1, 6, 3, 8};
		static const int kMirrored[4] = {2, 7, 4, 5};
		return (mirrored ? kMirrored : kPlain)[quarters];
	}
};

// The EXIF orientation that does what the rotation ('irot') and mirroring ('imir') properties
// of `item` do, in their order; 1 when it has none, or the boxes cannot be read. libheif applies
// them when it decodes, but does not tell them. 'imir' mode 1 swaps left and right, 0 top and
// bottom, as libheif and the amended standard read it.
int StoredOrientation(const uint8* data, size_t size, heif_item_id item)
{
	std::vector<Box> top = Boxes(data, size);
	const Box* meta = FindBox(top, FourCC("meta"));
	// 'meta' is a full box: its version and flags come before its children.
	if (meta == NULL || meta->size < 4)
		return 1;
	std::vector<Box> inMeta = Boxes(meta->data + 4, meta->size - 4);
	const Box* iprp = FindBox(inMeta, FourCC("iprp"));
	if (iprp == NULL)
		return 1;
	std::vector<Box> inIprp = Boxes(iprp->data, iprp->size);
	const Box* ipco = FindBox(inIprp, FourCC("ipco"));
	if (ipco == NULL)
		return 1;
	std::vector<Box> properties = Boxes(ipco->data, ipco->size);
	std::vector<uint32> indexes;
	for (const Box& box : inIprp)
		if (box.type == FourCC("ipma"))
			AddAssociations(box, item, indexes);

	Turn turn;
	for (uint32 index : indexes) {
		if (index == 0 || index > properties.size())
			continue;
		const Box& property = properties[index - 1];
		if (property.size < 1)
			continue;
		// Both hold their value in the low bits of one byte; irot turns anticlockwise.
		if (property.type == FourCC("irot"))
			turn.Rotate(4 - (property.data[0] & 3));
		else if (property.type == FourCC("imir") && (property.data[0] & 1) != 0)
			turn.MirrorLeftRight();
		else if (property.type == FourCC("imir"))
			turn.MirrorTopBottom();
	}
	return turn.Orientation();
}

// Copies decoded RGB or RGBA rows into the bitmap's B, G, R, A, undoing premultiplied alpha.
void CopyPixels(const uint8* plane, size_t stride, bool hasAlpha, bool premultiplied,
                BBitmap& bitmap)
{
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	int channels = hasAlpha ? 4 : 3;
	uint8* bits = static_cast<uint8*>(bitmap.Bits());
	for (int32 y = 0; y < height; y++) {
		const uint8* in = plane + (size_t)y * stride;
		uint8* out = bits + (size_t)y * bitmap.BytesPerRow();
		for (int32 x = 0; x < width; x++, in += channels, out += 4) {
			int alpha = hasAlpha ? in[3] : 255;
			uint8 rgb[3] = {in[0], in[1], in[2]};
			if (premultiplied && alpha != 255 && alpha != 0) {
				for (uint8& value : rgb)
					value = (uint8)std::min(255, (value * 255 + alpha / 2) / alpha);
			}
			out[0] = rgb[2];
			out[1] = rgb[1];
			out[2] = rgb[0];
			out[3] = (uint8)alpha;
		}
	}
}

std::vector<uint8> MetadataBlock(const heif_image_handle* handle, heif_item_id id)
{
	std::vector<uint8> block(heif_image_handle_get_metadata_size(handle, id));
	if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
		block.clear();
	return block;
}

// The EXIF data of an 'Exif' item: a 32-bit big-endian offset from its end to the TIFF header,
// which some writers put behind an "Exif\0\0" of their own, counted in the offset or not.
std::vector<uint8> ExifOfItem(const std::vector<uint8>& item)
{
	if (item.size() < 4)
		return std::vector<uint8>();
	uint32 offset = BigEndian(item.data(), 4);
	if (offset > item.size() - 4)
		return std::vector<uint8>();
	return ExifWithoutHeader(item.data() + 4 + offset, item.size() - 4 - offset);
}

// The first EXIF and XMP blocks of the image. Blocks that cannot be read are left out: the
// pixels do not depend on them.
void ReadMetadataBlocks(const heif_image_handle* handle, ImageMetadata& metadata)
{
	int count = heif_image_handle_get_number_of_metadata_blocks(handle, NULL);
	if (count <= 0)
		return;
	std::vector<heif_item_id> ids(count);
	count = heif_image_handle_get_list_of_metadata_block_IDs(handle, NULL, ids.data(), count);
	bool haveExif = false;
	bool haveXmp = false;
	for (int i = 0; i < count; i++) {
		const char* type = heif_image_handle_get_metadata_type(handle, ids[i]);
		if (type == NULL)
			continue;
		if (!haveExif && strcmp(type, "Exif") == 0) {
			metadata.exif = ExifOfItem(MetadataBlock(handle, ids[i]));
			haveExif = !metadata.exif.empty();
		} else if (!haveXmp && strcmp(type, "mime") == 0) {
			const char* content = heif_image_handle_get_metadata_content_type(handle, ids[i]);
			if (content == NULL || strcmp(content, "application/rdf+xml") != 0)
				continue;
			std::vector<uint8> block = MetadataBlock(handle, ids[i]);
			// Some writers end the packet with the NUL of a C string.
			while (!block.empty() && block.back() == 0)
				block.pop_back();
			metadata.xmp.assign(block.begin(), block.end());
			haveXmp = !metadata.xmp.empty();
		}
	}
}

void ReadProfile(const heif_image_handle* handle, std::vector<uint8>& profile)
{
	heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
	if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
		return;
	profile.resize(heif_image_handle_get_raw_color_profile_size(handle));
	if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
		profile.clear();
}

} // namespace

std::unique_ptr<BBitmap> ReadHeif(const uint8* data, size_t size, const ImageLimits& limits,
                                  std::string& error, ImageMetadata* metadata)
{
	UseQuietAv1Decoder();
	HeifContextPtr context(heif_context_alloc());
	if (context == NULL) {
		error = "not enough memory to read HEIF";
		return NULL;
	}
	// libheif's own limit, on each side, is checked as it reads the image's properties, before
	// it allocates anything for the image.
	heif_context_set_maximum_image_size_limit(context.get(),
	                                          (int)std::clamp<int64>(limits.maxSide, 1, INT_MAX));
	heif_error result = heif_context_read_from_memory_without_copy(context.get(), data, size, NULL);
	heif_image_handle* primary = NULL;
	if (result.code == heif_error_Ok)
		result = heif_context_get_primary_image_handle(context.get(), &primary);
	HeifHandlePtr handle(primary);
	if (result.code != heif_error_Ok) {
		error = Describe(result);
		return NULL;
	}

	// With the transformations applied, the size is the one libheif gives for the image as
	// shown; without, the stored image's ('ispe'), which the rotation and mirroring then apply
	// to as an EXIF orientation would.
	bool hasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
	int width = heif_image_handle_get_width(handle.get());
	int height = heif_image_handle_get_height(handle.get());
	int orientation = 1;
	if (!limits.autoOrient) {
		width = heif_image_handle_get_ispe_width(handle.get());
		height = heif_image_handle_get_ispe_height(handle.get());
		heif_item_id id;
		if (heif_context_get_primary_image_ID(context.get(), &id).code == heif_error_Ok)
			orientation = StoredOrientation(data, size, id);
	}
	std::unique_ptr<BBitmap> bitmap =
	    CreateImageBitmap(std::max(width, 0), std::max(height, 0), hasAlpha, limits, error);
	if (bitmap == NULL)
		return NULL;

	std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
	if (options == NULL) {
		error = "not enough memory to read HEIF";
		return NULL;
	}
	options->ignore_transformations = limits.autoOrient ? 0 : 1;
	options->convert_hdr_to_8bit = 1;
	heif_image* decoded = NULL;
	result = heif_decode_image(
	    handle.get(), &decoded, heif_colorspace_RGB,
	    hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
	HeifImagePtr image(decoded);
	if (result.code != heif_error_Ok) {
		error = Describe(result);
		return NULL;
	}
	int stride = 0;
	const uint8* plane =
	    heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
	int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
	if (plane == NULL || bits != 8) {
		error = "unsupported kind of HEIF image (" + std::to_string(bits) + "-bit channels)";
		return NULL;
	}

	int decodedWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
	int decodedHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
	if (decodedWidth != width || decodedHeight != height) {
		// Some writers, libheif 1.14 and 1.15 among them, list the rotation before the size
		// among an image's properties, and give the size as shown rather than as stored:
		// libheif then reports the size turned from the pixels it decodes. The bitmap for the
		// same pixels turned has passed the limits and been admitted already.
		if (decodedWidth != height || decodedHeight != width) {
			error = "damaged HEIF data (the image decodes to " + std::to_string(decodedWidth) +
			        " x " + std::to_string(decodedHeight) + " pixels, not the " +
			        std::to_string(width) + " x " + std::to_string(height) + " its header gives)";
			return NULL;
		}
		bitmap.reset();
		ImageLimits admitted = limits;
		admitted.admit = nullptr;
		bitmap = CreateImageBitmap(decodedWidth, decodedHeight, hasAlpha, admitted, error);
		if (bitmap == NULL)
			return NULL;
	}
	CopyPixels(plane, stride, hasAlpha, heif_image_is_premultiplied_alpha(image.get()) != 0,
	           *bitmap);

	if (metadata != NULL) {
		// The file's transformations say how the picture is shown; an orientation in its EXIF
		// data is only a note of it, never applied here.
		metadata->orientation = orientation;
		ReadProfile(handle.get(), metadata->iccProfile);
		ReadMetadataBlocks(handle.get(), *metadata);
		int images = heif_context_get_number_of_top_level_images(context.get());
		if (images > 1)
			metadata->notes.push_back("the first of " + std::to_string(images) + " images");
		int depth = heif_image_handle_get_luma_bits_per_pixel(handle.get());
		if (depth > 8)
			metadata->notes.push_back(std::to_string(depth) + "-bit channels reduced to 8 bits");
	}
	return bitmap;
}
