#include "JsonWriter.h"

#include <cassert>

#include "Utf8.h"

namespace {

const char kReplacement[] = "\xef\xbf\xbd";

void AppendUnicodeEscape(std::string& text, uint32_t code)
{
	static const char kHex[] = "0123456789abcdef";
	text += "\\u";
	for (int shift = 12; shift >= 0; shift -= 4)
		text += kHex[code >> shift & 15];
}

} // namespace

std::string JsonString(const std::string& text)
{
	std::string json = "\"";
	for (size_t i = 0; i < text.size();) {
		uint32_t code;
		size_t length = DecodeUtf8(text, i, code);
		if (length == 0) {
			json += kReplacement;
			i++;
			continue;
		}
		if (code == '"' || code == '\\') {
			json += '\\';
			json += (char)code;
		} else if (code == '\n') {
			json += "\\n";
		} else if (code == '\t') {
			json += "\\t";
		} else if (code == '\r') {
			json += "\\r";
		} else if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 ||
		           code == 0x2029) {
			AppendUnicodeEscape(json, code);
		} else {
			json.append(text, i, length);
		}
		i += length;
	}
	return json + "\"";
}

void JsonWriter::BeginObject()
{
	_Begin('{');
}

void JsonWriter::EndObject()
{
	_End('{');
}

void JsonWriter::BeginArray()
{
	_Begin('[');
}

void JsonWriter::EndArray()
{
	_End('[');
}

void JsonWriter::Key(const std::string& key)
{
	assert(!fOpen.empty() && fOpen.back() == '{' && !fAfterKey);
	if (fHasValue.back())
		fText += ',';
	fHasValue.back() = true;
	_NewLine();
	fText += JsonString(key) + ": ";
	fAfterKey = true;
}

void JsonWriter::String(const std::string& value)
{
	_BeforeValue();
	fText += JsonString(value);
}

void JsonWriter::Number(int64_t value)
{
	_BeforeValue();
	fText += std::to_string(value);
}

void JsonWriter::Bool(bool value)
{
	_BeforeValue();
	fText += value ? "true" : "false";
}

void JsonWriter::Null()
{
	_BeforeValue();
	fText += "null";
}

std::string JsonWriter::Text() const
{
	assert(fOpen.empty() && !fText.empty());
	return fText + "\n";
}

void JsonWriter::_BeforeValue()
{
	if (fAfterKey) {
		fAfterKey = false;
		return;
	}
	// A value outside an object stands alone: the document itself, or an element of an array.
	assert(fOpen.empty() ? fText.empty() : fOpen.back() == '[');
	if (fOpen.empty())
		return;
	if (fHasValue.back())
		fText += ',';
	fHasValue.back() = true;
	_NewLine();
}

void JsonWriter::_Begin(char bracket)
{
	_BeforeValue();
	fText += bracket;
	fOpen.push_back(bracket);
	fHasValue.push_back(false);
}

void JsonWriter::_End(char bracket)
{
	assert(!fOpen.empty() && fOpen.back() == bracket && !fAfterKey);
	bool hasValue = fHasValue.back();
	fOpen.pop_back();
	fHasValue.pop_back();
	if (hasValue)
		_NewLine();
	fText += bracket == '{' ? '}' : ']';
}

void JsonWriter::_NewLine()
{
	fText += '\n';
	fText.append(2 * fOpen.size(), ' ');
}
