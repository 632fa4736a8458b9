#include "Messages.h"

#include <cstdio>

namespace {

void AppendEscape(std::string& text, unsigned char c)
{
	static const char kHex[] = "0123456789abcdef";
	switch (c) {
	case '\n':
		text += "\\n";
		return;
	case '\r':
		text += "\\r";
		return;
	case '\t':
		text += "\\t";
		return;
	default:
		text += "\\x";
		text += kHex[c >> 4];
		text += kHex[c & 15];
	}
}

} // namespace

std::string Printable(const std::string& text)
{
	std::string printable;
	printable.reserve(text.size());
	for (size_t i = 0; i < text.size(); i++) {
		unsigned char c = text[i];
		if (c < 0x20 || c == 0x7f) {
			AppendEscape(printable, c);
			continue;
		}
		// U+0080 to U+009F, the C1 controls, which some terminals obey as commands.
		unsigned char next = i + 1 < text.size() ? text[i + 1] : 0;
		if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
			AppendEscape(printable, c);
			AppendEscape(printable, next);
			i++;
			continue;
		}
		printable += (char)c;
	}
	return printable;
}

void ReportError(const std::string& message, const std::vector<std::string>& details)
{
	std::string text = "quimbel: " + Printable(message) + "\n";
	for (const std::string& detail : details)
		text += "  " + Printable(detail) + "\n";
	fputs(text.c_str(), stderr);
}

void ReportNotes(const std::string& label, const std::vector<std::string>& notes)
{
	for (const std::string& note : notes)
		ReportError(label + ": " + note);
}
