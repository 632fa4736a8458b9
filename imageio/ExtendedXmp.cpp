#include "ExtendedXmp.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include <exiv2/error.hpp>
#include <exiv2/properties.hpp>
#include <exiv2/xmp_exiv2.hpp>
#include <nettle/md5.h>

#include "Metadata.h"

const char kExtendedXmpSignature[] = "http://ns.adobe.com/xmp/extension/";
const size_t kExtendedXmpSignatureSize = sizeof(kExtendedXmpSignature);

namespace {

// A JPEG segment holds at most this much after its marker and length.
const size_t kMostSegment = 65533;
const char kStandardXmpSignature[] = "http://ns.adobe.com/xap/1.0/";
const char kNoteKey[] = "Xmp.xmpNote.HasExtendedXMP";
const size_t kDigestSize = 32;
// The digest and the two sizes before each part.
const size_t kPartHeaderSize = kDigestSize + 8;
const size_t kMostPart = kMostSegment - kExtendedXmpSignatureSize - kPartHeaderSize;

uint32 ReadBigEndian(const uint8* bytes)
{
	return (uint32)bytes[0] << 24 | (uint32)bytes[1] << 16 | (uint32)bytes[2] << 8 | bytes[3];
}

void AppendBigEndian(std::vector<uint8>& out, uint32 value)
{
	for (int shift = 24; shift >= 0; shift -= 8)
		out.push_back((uint8)(value >> shift));
}

// The MD5 digest of `text` in upper-case hex, as the extension is named.
std::string DigestOf(const std::string& text)
{
	md5_ctx context;
	md5_init(&context);
	md5_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
	uint8_t digest[MD5_DIGEST_SIZE];
	md5_digest(&context, sizeof(digest), digest);
	static const char kHex[] = "0123456789ABCDEF";
	std::string hex;
	for (uint8_t byte : digest) {
		hex += kHex[byte >> 4];
		hex += kHex[byte & 0xf];
	}
	return hex;
}

// The top-level property a key belongs to: "Xmp.xmpMM.History" for the fields of
// "Xmp.xmpMM.History[1]/stEvt:action". A property moves to the extension whole.
std::string PropertyOf(const std::string& key)
{
	return key.substr(0, key.find_first_of("[/"));
}

const char kNoteNamespace[] = "http://ns.adobe.com/xmp/note/";

// exiv2 and its XMP toolkit ready, with the namespace of the note that names an extension,
// which exiv2 does not know by itself. exiv2 frees what it keeps of a namespace only when the
// namespace is unregistered, so that is done at exit.
void PrepareNote()
{
	PrepareExiv2();
	static std::once_flag sRegistered;
	std::call_once(sRegistered, [] {
		Exiv2::XmpProperties::registerNs(kNoteNamespace, "xmpNote");
		std::atexit([] { Exiv2::XmpProperties::unregisterNs(kNoteNamespace); });
	});
}

bool Encode(const Exiv2::XmpData& data, std::string& packet)
{
	return Exiv2::XmpParser::encode(packet, data,
	                                Exiv2::XmpParser::omitPacketWrapper |
	                                    Exiv2::XmpParser::useCompactFormat) == 0;
}

// Moves every datum of `property` from `from` to `to`.
void MoveProperty(Exiv2::XmpData& from, Exiv2::XmpData& to, const std::string& property)
{
	for (auto datum = from.begin(); datum != from.end();) {
		if (PropertyOf(datum->key()) == property) {
			to.add(*datum);
			datum = from.erase(datum);
		} else {
			++datum;
		}
	}
}

} // namespace

const size_t kMostStandardXmp = kMostSegment - sizeof(kStandardXmpSignature);

bool ReadExtendedXmpPart(const uint8* payload, size_t size, ExtendedXmpPart& part)
{
	if (size < kPartHeaderSize)
		return false;
	part.digest.assign(reinterpret_cast<const char*>(payload), kDigestSize);
	part.fullSize = ReadBigEndian(payload + kDigestSize);
	part.offset = ReadBigEndian(payload + kDigestSize + 4);
	part.data = payload + kPartHeaderSize;
	part.size = size - kPartHeaderSize;
	return true;
}

std::string JoinExtendedXmp(const std::string& standard, const std::vector<ExtendedXmpPart>& parts)
{
	if (parts.empty())
		return standard;
	PrepareNote();
	try {
		Exiv2::XmpData data;
		if (Exiv2::XmpParser::decode(data, standard) != 0)
			return standard;
		auto note = data.findKey(Exiv2::XmpKey(kNoteKey));
		if (note == data.end())
			return standard;
		std::string digest = note->toString();

		// The parts of the extension the note names, by offset: each must start where the one
		// before ended, and together they must make its whole size. The text is only as long as
		// the parts found, whatever size they claim.
		std::vector<const ExtendedXmpPart*> named;
		for (const ExtendedXmpPart& part : parts) {
			if (part.digest == digest)
				named.push_back(&part);
		}
		if (named.empty())
			return standard;
		std::sort(named.begin(), named.end(),
		          [](const ExtendedXmpPart* a, const ExtendedXmpPart* b) {
			          return a->offset < b->offset;
		          });
		uint32 fullSize = named.front()->fullSize;
		std::string extension;
		for (const ExtendedXmpPart* part : named) {
			if (part->fullSize != fullSize || part->offset != extension.size() ||
			    part->size > fullSize - extension.size())
				return standard;
			extension.append(reinterpret_cast<const char*>(part->data), part->size);
		}
		Exiv2::XmpData extended;
		if (extension.size() != fullSize || Exiv2::XmpParser::decode(extended, extension) != 0)
			return standard;

		data.erase(note);
		for (const Exiv2::Xmpdatum& datum : extended) {
			if (data.findKey(Exiv2::XmpKey(datum.key())) == data.end())
				data.add(datum);
		}
		std::string joined;
		return Encode(data, joined) ? joined : standard;
	} catch (...) {
		return standard;
	}
}

bool SplitExtendedXmp(const std::string& xmp, std::string& standard,
                      std::vector<std::vector<uint8>>& extension)
{
	PrepareNote();
	try {
		Exiv2::XmpData data;
		if (Exiv2::XmpParser::decode(data, xmp) != 0)
			return false;
		// A note left from an earlier split names an extension that is not the one written now.
		auto oldNote = data.findKey(Exiv2::XmpKey(kNoteKey));
		if (oldNote != data.end())
			data.erase(oldNote);

		// The properties by their rough size, largest first.
		std::map<std::string, size_t> sizes;
		size_t total = 0;
		for (const Exiv2::Xmpdatum& datum : data) {
			size_t size = datum.key().size() + datum.toString().size();
			sizes[PropertyOf(datum.key())] += size;
			total += size;
		}
		std::vector<std::pair<size_t, std::string>> largest;
		for (const auto& [property, size] : sizes)
			largest.push_back({size, property});
		std::sort(largest.rbegin(), largest.rend());

		// Properties move out until the standard packet, with the note's room held for the
		// digest, fits. The rough sizes, scaled by what the last encoding gave, say how many
		// move before the next encoding, so that a packet of many small properties is not
		// encoded once for each.
		const std::string kPlaceholder(kDigestSize, '0');
		Exiv2::XmpData moved;
		size_t next = 0;
		size_t remaining = total;
		for (;;) {
			Exiv2::XmpData trial = data;
			if (!moved.empty())
				trial[kNoteKey] = kPlaceholder;
			if (!Encode(trial, standard))
				return false;
			if (standard.size() <= kMostStandardXmp)
				break;
			if (next == largest.size())
				return false;
			double scale = remaining > 0 ? (double)standard.size() / remaining : 1;
			do {
				MoveProperty(data, moved, largest[next].second);
				remaining -= largest[next].first;
				next++;
			} while (next < largest.size() && remaining * scale > kMostStandardXmp * 0.9);
		}

		extension.clear();
		if (moved.empty())
			return true;
		std::string text;
		if (!Encode(moved, text) || text.size() > UINT32_MAX)
			return false;
		std::string digest = DigestOf(text);
		data[kNoteKey] = digest;
		if (!Encode(data, standard) || standard.size() > kMostStandardXmp)
			return false;
		for (size_t offset = 0; offset < text.size(); offset += kMostPart) {
			size_t size = std::min(kMostPart, text.size() - offset);
			std::vector<uint8> payload(digest.begin(), digest.end());
			AppendBigEndian(payload, (uint32)text.size());
			AppendBigEndian(payload, (uint32)offset);
			payload.insert(payload.end(), text.begin() + offset, text.begin() + offset + size);
			extension.push_back(std::move(payload));
		}
		return true;
	} catch (...) {
		return false;
	}
}
