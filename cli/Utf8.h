// Reading UTF-8 text one character at a time, and the columns a character takes on a terminal.
#ifndef UTF8_H
#define UTF8_H

#include <cstdint>
#include <string>

// The length of the well-formed UTF-8 sequence at `text[i]` and its code point, or 0 when the
// bytes there are no such sequence (overlong forms, surrogates and cut sequences included).
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& code);

// The columns a terminal gives the character `code`: 2 for the wide characters of East Asian
// scripts and for emoji, 1 for the others. Combining marks are counted as 1, which errs on the
// safe side for a line that must not wrap.
int CharacterColumns(uint32_t code);

#endif // UTF8_H
