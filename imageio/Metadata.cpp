#include "Metadata.h"

#include <cstring>
#include <mutex>

#include <exiv2/convert.hpp>
#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/futils.hpp>
#include <exiv2/iptc.hpp>
#include <exiv2/xmp_exiv2.hpp>

namespace {

const uint8 kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
const uint8 kResourceSignature[] = {'8', 'B', 'I', 'M'};
const uint16 kIptcResource = 0x0404;

std::mutex sXmpLock;

void LockXmp(void*, bool lock)
{
	if (lock)
		sXmpLock.lock();
	else
		sXmpLock.unlock();
}

// Sets `key` to `value` when `data` has it and it says something else; returns whether it did.
template <typename Data, typename Key> bool Correct(Data& data, const char* key, uint32 value)
{
	auto found = data.findKey(Key(key));
	if (found == data.end() || (found->count() > 0 && found->toLong() == (long)value))
		return false;
	found->setValue(std::to_string(value));
	return true;
}

std::vector<uint8> MendedExif(const std::vector<uint8>& exif, int32 width, int32 height,
                              int orientation)
{
	Exiv2::ExifData data;
	Exiv2::ByteOrder order = Exiv2::littleEndian;
	if (!exif.empty())
		order = Exiv2::ExifParser::decode(data, exif.data(), (uint32_t)exif.size());
	if (exif.empty() || (data.empty() && orientation != 1)) {
		if (orientation == 1)
			return exif;
		data["Exif.Image.Orientation"] = uint16_t(orientation);
	} else {
		bool changed = false;
		changed |=
		    Correct<Exiv2::ExifData, Exiv2::ExifKey>(data, "Exif.Photo.PixelXDimension", width);
		changed |=
		    Correct<Exiv2::ExifData, Exiv2::ExifKey>(data, "Exif.Photo.PixelYDimension", height);
		changed |= Correct<Exiv2::ExifData, Exiv2::ExifKey>(data, "Exif.Image.ImageWidth", width);
		changed |= Correct<Exiv2::ExifData, Exiv2::ExifKey>(data, "Exif.Image.ImageLength", height);
		auto stated = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
		if (stated != data.end() ? stated->count() == 0 || stated->toLong() != orientation
		                         : orientation != 1) {
			data["Exif.Image.Orientation"] = uint16_t(orientation);
			changed = true;
		}
		Exiv2::ExifThumb thumbnail(data);
		if (thumbnail.copy().size_ > 0 ||
		    data.findKey(Exiv2::ExifKey("Exif.Thumbnail.JPEGInterchangeFormat")) != data.end()) {
			thumbnail.erase();
			changed = true;
		}
		if (!changed)
			return exif;
	}
	Exiv2::Blob blob;
	Exiv2::ExifParser::encode(blob, order, data);
	return std::vector<uint8>(blob.begin(), blob.end());
}

std::string MendedXmp(const std::string& xmp, int32 width, int32 height, int orientation)
{
	Exiv2::XmpData data;
	if (Exiv2::XmpParser::decode(data, xmp) != 0)
		return std::string();
	bool changed = false;
	changed |= Correct<Exiv2::XmpData, Exiv2::XmpKey>(data, "Xmp.exif.PixelXDimension", width);
	changed |= Correct<Exiv2::XmpData, Exiv2::XmpKey>(data, "Xmp.exif.PixelYDimension", height);
	changed |= Correct<Exiv2::XmpData, Exiv2::XmpKey>(data, "Xmp.tiff.ImageWidth", width);
	changed |= Correct<Exiv2::XmpData, Exiv2::XmpKey>(data, "Xmp.tiff.ImageLength", height);
	changed |= Correct<Exiv2::XmpData, Exiv2::XmpKey>(data, "Xmp.tiff.Orientation", orientation);
	if (!changed)
		return xmp;
	std::string packet;
	if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::omitPacketWrapper) != 0)
		return std::string();
	return packet;
}

uint32 BigEndian32(const uint8* bytes)
{
	return (uint32)bytes[0] << 24 | (uint32)bytes[1] << 16 | (uint32)bytes[2] << 8 | bytes[3];
}

} // namespace

void PrepareExiv2()
{
	static std::once_flag sPrepared;
	std::call_once(sPrepared, [] {
		Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
		Exiv2::XmpParser::initialize(LockXmp, NULL);
	});
}

ImageMetadata MendedMetadata(const ImageMetadata& source, int32 width, int32 height)
{
	PrepareExiv2();
	ImageMetadata mended = source;
	try {
		mended.exif = MendedExif(source.exif, width, height, source.orientation);
	} catch (...) {
		mended.exif.clear();
	}
	if (!source.xmp.empty()) {
		try {
			mended.xmp = MendedXmp(source.xmp, width, height, source.orientation);
		} catch (...) {
			mended.xmp.clear();
		}
	}
	return mended;
}

std::string XmpWithIptc(const std::string& xmp, const std::vector<uint8>& iptc)
{
	if (iptc.empty() || iptc.size() > UINT32_MAX)
		return xmp;
	PrepareExiv2();
	try {
		Exiv2::IptcData records;
		if (Exiv2::IptcParser::decode(records, iptc.data(), (uint32_t)iptc.size()) != 0)
			return xmp;
		Exiv2::XmpData mirrored;
		Exiv2::copyIptcToXmp(records, mirrored);
		Exiv2::XmpData data;
		if (!xmp.empty() && Exiv2::XmpParser::decode(data, xmp) != 0)
			return xmp;
		bool added = false;
		for (const Exiv2::Xmpdatum& datum : mirrored) {
			if (data.findKey(Exiv2::XmpKey(datum.key())) != data.end())
				continue;
			data.add(datum);
			added = true;
		}
		std::string packet;
		if (!added ||
		    Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::omitPacketWrapper) != 0)
			return xmp;
		return packet;
	} catch (...) {
		return xmp;
	}
}

std::vector<uint8> ExifWithoutHeader(const uint8* data, size_t size)
{
	if (size >= sizeof(kExifHeader) && memcmp(data, kExifHeader, sizeof(kExifHeader)) == 0) {
		data += sizeof(kExifHeader);
		size -= sizeof(kExifHeader);
	}
	return std::vector<uint8>(data, data + size);
}

std::vector<uint8> IptcOfPhotoshopResources(const uint8* data, size_t size)
{
	// Each resource: "8BIM", its 16-bit id, a Pascal name padded to an even length, a 32-bit
	// size and the data padded to an even length; all numbers big-endian.
	size_t offset = 0;
	while (size - offset >= 12) {
		const uint8* resource = data + offset;
		if (memcmp(resource, kResourceSignature, sizeof(kResourceSignature)) != 0)
			break;
		uint16 id = (uint16)(resource[4] << 8 | resource[5]);
		size_t nameSize = (1 + (size_t)resource[6] + 1) & ~(size_t)1;
		size_t header = 6 + nameSize + 4;
		if (size - offset < header)
			break;
		size_t length = BigEndian32(resource + 6 + nameSize);
		if (length > size - offset - header)
			break;
		if (id == kIptcResource)
			return std::vector<uint8>(resource + header, resource + header + length);
		offset += header + ((length + 1) & ~(size_t)1);
	}
	return std::vector<uint8>();
}

std::vector<uint8> PhotoshopResourcesOfIptc(const std::vector<uint8>& iptc)
{
	uint32 length = (uint32)iptc.size();
	// The signature, the id, an empty name padded to two bytes and the size.
	const uint8 header[] = {'8',
	                        'B',
	                        'I',
	                        'M',
	                        kIptcResource >> 8,
	                        kIptcResource & 0xff,
	                        0,
	                        0,
	                        uint8(length >> 24),
	                        uint8(length >> 16),
	                        uint8(length >> 8),
	                        uint8(length)};
	// The data are padded to an even size with a zero.
	std::vector<uint8> resources(sizeof(header) + iptc.size() + iptc.size() % 2, 0);
	memcpy(resources.data(), header, sizeof(header));
	if (!iptc.empty())
		memcpy(resources.data() + sizeof(header), iptc.data(), iptc.size());
	return resources;
}
