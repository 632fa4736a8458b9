// The progress line's layout: what fits at each width, and shortening names without breaking
// their characters.
#include <gtest/gtest.h>

#include "ProgressLine.h"

namespace {

// Terminal columns of the UTF-8 text of these tests, counted independently of the code under
// test: every character of three or four bytes in them (CJK, emoji) takes two columns, the
// others one.
size_t Columns(const std::string& text)
{
	size_t count = 0;
	for (unsigned char c : text) {
		if ((c & 0xc0) != 0x80)
			count += c >= 0xe0 ? 2 : 1;
	}
	return count;
}

// Whether `text` is well-formed UTF-8 (for the multi-byte sequences of the test names).
bool IsWholeUtf8(const std::string& text)
{
	for (size_t i = 0; i < text.size();) {
		unsigned char c = text[i];
		size_t length = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
		if (length == 0 || i + length > text.size())
			return false;
		for (size_t k = 1; k < length; k++) {
			if (((unsigned char)text[i + k] & 0xc0) != 0x80)
				return false;
		}
		i += length;
	}
	return true;
}

ProgressState State(int done, int total, int failed, double seconds, const std::string& current)
{
	ProgressState state;
	state.done = done;
	state.total = total;
	state.failed = failed;
	state.seconds = seconds;
	state.current = current;
	return state;
}

const ProgressState kStates[] = {
    State(0, 10, 0, 0, ""),
    State(0, 10, 0, 0.5, "first.png"),
    State(3, 10, 1, 2.5, "photos/2026/holiday/IMG_0042.jpg"),
    State(99999, 100000, 12345, 86000, std::string(300, 'x') + ".png"),
    State(2, 4, 0, 1, "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x93\xb7-photo.png"),
    State(4, 4, 0, 3, "last.png"),
};

class ProgressLineWidth : public ::testing::TestWithParam<int> {};

// At every width from 1 to 200 the line leaves the last column free (wide characters taking
// two), keeps the count whole
// whenever it fits, and never splits a character of the file name.
TEST_P(ProgressLineWidth, NeverWiderThanTheTerminal)
{
	int columns = GetParam();
	for (const ProgressState& state : kStates) {
		std::string line = FormatProgressLine(state, columns);
		std::string count = std::to_string(state.done) + "/" + std::to_string(state.total);

		EXPECT_LT(Columns(line), (size_t)std::max(columns, 1)) << columns << ": " << line;
		EXPECT_TRUE(IsWholeUtf8(line)) << line;
		EXPECT_EQ(line.find('\n'), std::string::npos);
		if ((int)count.size() < columns - 1) {
			EXPECT_NE(line.find(count), std::string::npos) << columns << ": " << line;
		}
	}
}

INSTANTIATE_TEST_SUITE_P(Columns, ProgressLineWidth, ::testing::Range(1, 201));

// With room to spare, every part is there: bar, count, failures, rate, time left and the
// whole file name.
TEST(ProgressLine, WideShowsEverything)
{
	std::string line =
	    FormatProgressLine(State(3, 10, 1, 2.5, "photos/2026/holiday/IMG_0042.jpg"), 200);

	EXPECT_EQ(line, "[############                            ] 3/10, 1 failed  1.2 files/s  "
	                "0:06 left  photos/2026/holiday/IMG_0042.jpg");
}

// At 30 columns the count and the time left stay, the bar goes, and the name keeps its end.
TEST(ProgressLine, NarrowKeepsCountAndNameEnd)
{
	std::string line =
	    FormatProgressLine(State(3, 10, 0, 2.5, "photos/2026/holiday/IMG_0042.jpg"), 30);

	EXPECT_EQ(line, "3/10  1.2 files/s  0:06 left");
	EXPECT_EQ(FormatProgressLine(State(3, 10, 0, 0, "photos/2026/holiday/IMG_0042.jpg"), 30),
	          "3/10  ...holiday/IMG_0042.jpg");
}

// Long runs show hours; a finished batch has nothing left.
TEST(ProgressLine, TimeLeft)
{
	EXPECT_NE(FormatProgressLine(State(1, 10000, 0, 2, ""), 80).find("5:33:18 left"),
	          std::string::npos);
	EXPECT_NE(FormatProgressLine(State(4, 4, 0, 3, ""), 80).find("0:00 left"), std::string::npos);
}

struct Shortening {
	std::string text;
	size_t width;
	std::string expected;
};

void PrintTo(const Shortening& shortening, std::ostream* out)
{
	*out << shortening.text << " in " << shortening.width;
}

class ShortenName : public ::testing::TestWithParam<Shortening> {};

// A name that fits is kept; a longer one loses its start to "...", by whole characters, a wide
// one counting two columns.
TEST_P(ShortenName, KeepsTheEnd)
{
	EXPECT_EQ(ShortenFromStart(GetParam().text, GetParam().width), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShortenName,
    ::testing::Values(Shortening{"short.png", 9, "short.png"},
                      Shortening{"longer-name.png", 10, "...ame.png"},
                      Shortening{"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.png", 5, "...ng"},
                      Shortening{"\xe6\x97\xa5\xe6\x9c\xac\xe3\x81\xae\xe5\x86\x99\xe7\x9c\x9f.png",
                                 9, "...\xe7\x9c\x9f.png"},
                      Shortening{"a\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9z", 5, "...\xc3\xa9z"},
                      Shortening{"ab\xe6\x97\xa5\xe6\x9c\xac", 5, "...\xe6\x9c\xac"},
                      Shortening{"\xff\xfe"
                                 "abcdef",
                                 6, "...def"},
                      Shortening{"anything", 2, ".."}));

} // namespace
