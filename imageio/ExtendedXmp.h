// XMP too large for one JPEG segment: the standard packet goes in the usual APP1 segment and the
// rest, the extended XMP, in APP1 segments of its own, in parts named by the MD5 digest of its
// text, which the standard packet gives as xmpNote:HasExtendedXMP.
#ifndef EXTENDED_XMP_H
#define EXTENDED_XMP_H

#include <string>
#include <vector>

#include <SupportDefs.h>

// The signature that starts each extension segment, with its NUL.
extern const char kExtendedXmpSignature[];
extern const size_t kExtendedXmpSignatureSize;

// The most bytes of XMP that the standard segment holds after its own signature.
extern const size_t kMostStandardXmp;

// One part of an extension: the payload of its segment after the signature is 32 hex digits
// (the digest), the whole extension's size and this part's offset in it (32 bits each, most
// significant byte first), then the part.
struct ExtendedXmpPart {
	std::string digest;
	uint32 fullSize;
	uint32 offset;
	const uint8* data;
	size_t size;
};

// Reads the part a segment's payload after the signature holds; false when it is too short.
bool ReadExtendedXmpPart(const uint8* payload, size_t size, ExtendedXmpPart& part);

// `standard` with the properties of the extension it names joined in, and the name dropped,
// when `parts` hold all of that extension, each byte once, and it is XMP; otherwise `standard`
// as it is.
std::string JoinExtendedXmp(const std::string& standard, const std::vector<ExtendedXmpPart>& parts);

// Splits `xmp`, which does not fit in one segment, into a standard packet of at most
// kMostStandardXmp bytes and the payloads of the extension's segments (digest, sizes and
// part), moving its largest properties out first. False when it is not XMP, or no standard
// packet small enough can be made.
bool SplitExtendedXmp(const std::string& xmp, std::string& standard,
                      std::vector<std::vector<uint8>>& extension);

#endif // EXTENDED_XMP_H
