#include "Utf8.h"

namespace {

// The blocks of wide characters, as terminals following Unicode's East Asian Width show them.
const struct {
	uint32_t first;
	uint32_t last;
} kWideRanges[] = {
    {0x1100, 0x115f},   // Hangul Jamo initials
    {0x2e80, 0x303e},   // CJK radicals, Kangxi, CJK symbols and punctuation
    {0x3041, 0x33ff},   // Hiragana, Katakana, Bopomofo, Hangul compatibility, CJK compatibility
    {0x3400, 0x4dbf},   // CJK extension A
    {0x4e00, 0x9fff},   // CJK unified ideographs
    {0xa000, 0xa4cf},   // Yi
    {0xac00, 0xd7a3},   // Hangul syllables
    {0xf900, 0xfaff},   // CJK compatibility ideographs
    {0xfe30, 0xfe4f},   // CJK compatibility forms
    {0xff00, 0xff60},   // fullwidth forms
    {0xffe0, 0xffe6},   // fullwidth signs
    {0x1f300, 0x1f64f}, // pictographs and emoticons
    {0x1f900, 0x1f9ff}, // supplemental pictographs
    {0x20000, 0x3fffd}, // CJK extensions B and later
};

} // namespace

size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& code)
{
	unsigned char lead = text[i];
	size_t length;
	uint32_t least;
	if (lead < 0x80) {
		code = lead;
		return 1;
	}
	if (lead >= 0xc2 && lead <= 0xdf) {
		length = 2;
		least = 0x80;
		code = lead & 0x1f;
	} else if (lead >= 0xe0 && lead <= 0xef) {
		length = 3;
		least = 0x800;
		code = lead & 0x0f;
	} else if (lead >= 0xf0 && lead <= 0xf4) {
		length = 4;
		least = 0x10000;
		code = lead & 0x07;
	} else {
		return 0;
	}
	if (text.size() - i < length)
		return 0;
	for (size_t k = 1; k < length; k++) {
		unsigned char next = text[i + k];
		if ((next & 0xc0) != 0x80)
			return 0;
		code = code << 6 | (next & 0x3f);
	}
	if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
		return 0;
	return length;
}

int CharacterColumns(uint32_t code)
{
	for (const auto& range : kWideRanges) {
		if (code >= range.first && code <= range.last)
			return 2;
	}
	return 1;
}
