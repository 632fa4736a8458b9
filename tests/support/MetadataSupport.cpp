#include "MetadataSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

// A JPEG small enough for a thumbnail: SOI, then EOI; exiv2 stores it as it is.
const Exiv2::byte kThumbnail[] = {0xff, 0xd8, 0xff, 0xd9};

std::vector<uint8> ChelseaProfile()
{
	ImageMetadata sample;
	std::string error;
	EXPECT_NE(ReadImage(SamplePath("chelsea.png"), ImageLimits(), error, &sample), nullptr)
	    << error;
	return sample.iccProfile;
}

} // namespace

ImageMetadata PhotographMetadata(int width, int height, int orientation)
{
	Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
	ImageMetadata metadata;

	Exiv2::ExifData exif;
	exif["Exif.Image.Make"] = "Quimbel Test Camera";
	exif["Exif.Image.Orientation"] = uint16_t(orientation);
	exif["Exif.Photo.DateTimeOriginal"] = kCaptureDate;
	exif["Exif.Photo.PixelXDimension"] = uint32_t(width);
	exif["Exif.Photo.PixelYDimension"] = uint32_t(height);
	exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
	Exiv2::URationalValue latitude;
	latitude.read("48/1 51/1 2970/100");
	exif["Exif.GPSInfo.GPSLatitude"] = latitude;
	Exiv2::ExifThumb(exif).setJpegThumbnail(kThumbnail, sizeof(kThumbnail));
	Exiv2::Blob blob;
	Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
	metadata.exif.assign(blob.begin(), blob.end());
	metadata.orientation = orientation;

	Exiv2::XmpData xmp;
	xmp["Xmp.dc.title"] = kTitle;
	xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
	xmp["Xmp.exif.PixelXDimension"] = std::to_string(width);
	xmp["Xmp.exif.PixelYDimension"] = std::to_string(height);
	EXPECT_EQ(Exiv2::XmpParser::encode(metadata.xmp, xmp), 0);

	Exiv2::IptcData iptc;
	iptc["Iptc.Application2.Caption"] = kCaption;
	for (const char* keyword : kKeywords) {
		Exiv2::StringValue value(keyword);
		iptc.add(Exiv2::IptcKey("Iptc.Application2.Keywords"), &value);
	}
	iptc["Iptc.Application2.Byline"] = kByline;
	iptc["Iptc.Application2.Copyright"] = kCopyright;
	Exiv2::DataBuf records = Exiv2::IptcParser::encode(iptc);
	metadata.iptc.assign(records.pData_, records.pData_ + records.size_);

	metadata.texts.push_back({"Comment", "taken from the pier", false});
	metadata.resolution.unit = ImageMetadata::Resolution::kInch;
	metadata.resolution.x = 300;
	metadata.resolution.y = 300;
	metadata.iccProfile = ChelseaProfile();
	return metadata;
}

std::string ExifValue(const std::vector<uint8>& exif, const std::string& key)
{
	try {
		Exiv2::ExifData data;
		Exiv2::ExifParser::decode(data, exif.data(), (uint32_t)exif.size());
		auto found = data.findKey(Exiv2::ExifKey(key));
		return found != data.end() ? found->toString() : std::string();
	} catch (...) {
		return std::string();
	}
}

std::string XmpValue(const std::string& xmp, const std::string& key)
{
	try {
		Exiv2::XmpData data;
		if (Exiv2::XmpParser::decode(data, xmp) != 0)
			return std::string();
		auto found = data.findKey(Exiv2::XmpKey(key));
		return found != data.end() ? found->toString() : std::string();
	} catch (...) {
		return std::string();
	}
}

std::string IptcValue(const std::vector<uint8>& iptc, const std::string& key)
{
	try {
		Exiv2::IptcData data;
		if (Exiv2::IptcParser::decode(data, iptc.data(), (uint32_t)iptc.size()) != 0)
			return std::string();
		auto found = data.findKey(Exiv2::IptcKey(key));
		return found != data.end() ? found->toString() : std::string();
	} catch (...) {
		return std::string();
	}
}

std::string FileValue(const std::string& path, const std::string& key)
{
	try {
		Exiv2::enableBMFF(true);
		Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
		image->readMetadata();
		std::string values;
		auto collect = [&](const auto& data) {
			for (const auto& datum : data) {
				if (datum.key() != key)
					continue;
				values += (values.empty() ? "" : ", ") + datum.toString();
			}
		};
		if (key.rfind("Exif.", 0) == 0)
			collect(image->exifData());
		else if (key.rfind("Iptc.", 0) == 0)
			collect(image->iptcData());
		else
			collect(image->xmpData());
		return values;
	} catch (...) {
		return std::string();
	}
}

bool HasThumbnail(const std::vector<uint8>& exif)
{
	try {
		Exiv2::ExifData data;
		Exiv2::ExifParser::decode(data, exif.data(), (uint32_t)exif.size());
		return Exiv2::ExifThumbC(data).copy().size_ > 0;
	} catch (...) {
		return false;
	}
}
