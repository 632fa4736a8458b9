// Writing one JSON document (RFC 8259) for scripts: objects, arrays, strings, numbers, true,
// false and null, indented two spaces a level.
#ifndef JSON_WRITER_H
#define JSON_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

// Values are added in document order; inside an object each value follows its Key(). The writer
// places the commas and line breaks. Nesting the calls wrongly (a key in an array, ending what
// was not begun) is a bug of the caller, caught by assertions.
class JsonWriter {
public:
	void BeginObject();
	void EndObject();
	void BeginArray();
	void EndArray();
	void Key(const std::string& key);

	void String(const std::string& value);
	void Number(int64_t value);
	void Bool(bool value);
	void Null();

	// The document, ending with a line break, once every object and array is ended.
	std::string Text() const;

private:
	void _BeforeValue();
	void _Begin(char bracket);
	void _End(char bracket);
	void _NewLine();

	std::string fText;
	// The brackets open, innermost last, and whether each holds a value yet.
	std::vector<char> fOpen;
	std::vector<bool> fHasValue;
	bool fAfterKey = false;
};

// `text` as a JSON string, quotes included. Quotes, backslashes and control characters are
// escaped, as are the C1 controls and the line and paragraph separators, so that the document
// can neither command a terminal nor break a line of JavaScript. Bytes that are not UTF-8 become
// U+FFFD, the replacement character, since a JSON document is UTF-8 throughout.
std::string JsonString(const std::string& text);

#endif // JSON_WRITER_H
