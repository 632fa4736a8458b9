// Showing resources to people: the text of each resource and the icons as bitmaps.
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ColorMap.h"
#include "Icon.h"
#include "PlatformResources.h"
#include "ResourceReader.h"
#include "ResourceText.h"
#include "TestSupport.h"

namespace {

struct TextRow {
	const char* label;
	Resource resource;
	const char* text;
};

std::vector<uint8> Data(const std::string& text)
{
	return std::vector<uint8>(text.begin(), text.end());
}

// A version record with the given numbers and raw description fields.
std::vector<uint8> VersionRecord(std::vector<uint32> numbers, const std::string& shortField,
                                 const std::string& longField)
{
	std::vector<uint8> record(340, 0);
	for (size_t i = 0; i < numbers.size(); i++)
		memcpy(record.data() + i * 4, &numbers[i], 4);
	memcpy(record.data() + 20, shortField.data(), std::min<size_t>(shortField.size(), 64));
	memcpy(record.data() + 84, longField.data(), std::min<size_t>(longField.size(), 256));
	return record;
}

const uint32 kApplicationVersion = TypeCode("APPV");

const TextRow kTextRows[] = {
    {"VersionNumbers",
     {kApplicationVersion, 1, "BEOS:APP_VERSION", VersionRecord({1, 2, 3, 5, 7}, "a", "b\n")},
     "'APPV' 1 \"BEOS:APP_VERSION\": version 1.2.3 (final, internal 7), short description "
     "\"a\", long description \"b\\n\""},
    {"UnknownVariety",
     {kApplicationVersion, 1, "BEOS:APP_VERSION", VersionRecord({0, 0, 0, 9, 0}, "", "")},
     "'APPV' 1 \"BEOS:APP_VERSION\": version 0.0.0 (variety 9, internal 0), short "
     "description \"\", long description \"\""},
    {"VersionRecordTooShort",
     {kApplicationVersion, 1, "BEOS:APP_VERSION", Data("short")},
     "'APPV' 1 \"BEOS:APP_VERSION\": damaged version record: 5 bytes instead of 340"},
    {"DescriptionWithoutNul",
     {kApplicationVersion, 1, "BEOS:APP_VERSION", VersionRecord({}, std::string(64, 'x'), "")},
     "'APPV' 1 \"BEOS:APP_VERSION\": damaged version record: a description without "
     "terminating NUL"},
    {"StringWithoutNul",
     {TypeCode("MIMS"), 1, "BEOS:APP_SIG", Data("abc")},
     "'MIMS' 1 \"BEOS:APP_SIG\": damaged string: 3 bytes without one terminating NUL"},
    {"EmptyString",
     {TypeCode("MIMS"), 1, "BEOS:APP_SIG", {}},
     "'MIMS' 1 \"BEOS:APP_SIG\": damaged string: 0 bytes without one terminating NUL"},
    {"StringWithInnerNul",
     {TypeCode("MIMS"), 1, "BEOS:APP_SIG", Data(std::string("a\0b\0", 4))},
     "'MIMS' 1 \"BEOS:APP_SIG\": damaged string: 4 bytes without one terminating NUL"},
    {"StringWithEscapes",
     {TypeCode("MIMS"), 2, "say \"hi\"\\", Data(std::string("t\x01\"\x80\0", 5))},
     "'MIMS' 2 \"say \\\"hi\\\"\\\\\": string \"t\\x01\\\"\\x80\""},
    {"LargeIconWrongSize",
     {TypeCode("ICON"), 101, "BEOS:L:STD_ICON", std::vector<uint8>(256)},
     "'ICON' 101 \"BEOS:L:STD_ICON\": damaged large icon: 256 bytes instead of 1024"},
    {"MessageWithFields",
     {TypeCode("MSGG"), 1, "BEOS:FILE_TYPES", Data(std::string("\0\0\0\0\1\0\0\0", 8))},
     "'MSGG' 1 \"BEOS:FILE_TYPES\": message of 8 bytes that this reader cannot show"},
    {"MessageWithWhat",
     {TypeCode("MSGG"), 1, "BEOS:FILE_TYPES", Data(std::string("SPYT\0\0\0\0", 8))},
     "'MSGG' 1 \"BEOS:FILE_TYPES\": empty message, what 'TYPS'"},
    {"UnknownType", {TypeCode("abcd"), -3, "", Data("x")}, "'abcd' -3 \"\": 1 byte"},
    {"UnprintableTypeCode", {0x01020304, 0, "n", {}}, "0x01020304 0 \"n\": 0 bytes"},
};

void PrintTo(const TextRow& row, std::ostream* out)
{
	*out << row.label;
}

class ResourceTextRow : public testing::TestWithParam<TextRow> {};

// Every resource is one line with its type code, id, quoted name and readable data; damaged
// data are named as damaged, and nothing unprintable reaches the line.
TEST_P(ResourceTextRow, ShowsTheResource)
{
	EXPECT_EQ(DescribeResource(GetParam().resource), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Resources, ResourceTextRow, testing::ValuesIn(kTextRows),
                         [](const testing::TestParamInfo<TextRow>& info) {
	                         return info.param.label;
                         });

// The colours of the system colour map are all different, so each has exactly one index, and
// only the transparent index is transparent.
TEST(ColorMap, EveryColourHasOneIndex)
{
	for (int index = 0; index < 256; index++) {
		rgb_color color = SystemColor((uint8)index);
		EXPECT_EQ(color.alpha, index == kTransparentIndex ? 0 : 255) << index;
		if (index == kTransparentIndex)
			continue;
		uint8 found = 0;
		EXPECT_TRUE(FindSystemColor(color.red, color.green, color.blue, found));
		EXPECT_EQ(found, index);
	}
}

// Both icons of an add-on become bitmaps of their size whose pixels are the icon's colours,
// transparent where the icon is.
TEST(Icon, BecomesABitmapOfItsColours)
{
	std::vector<Resource> resources;
	std::string error;
	ASSERT_TRUE(ReadResources(AddonPath("CopyThrough"), resources, error)) << error;
	for (uint32 type : {kLargeIconType, kMiniIconType}) {
		const Resource* icon = FindIcon(resources, type);
		ASSERT_NE(icon, nullptr) << TypeCodeText(type);
		std::unique_ptr<BBitmap> bitmap = IconBitmap(*icon);
		ASSERT_NE(bitmap, nullptr);
		int32 side = type == kLargeIconType ? kLargeIconSide : kMiniIconSide;
		ASSERT_EQ(bitmap->ColorSpace(), B_RGBA32);
		ASSERT_EQ(bitmap->Bounds(), BRect(0, 0, side - 1, side - 1));
		for (int32 i = 0; i < side * side; i++) {
			rgb_color color = SystemColor(icon->data[i]);
			EXPECT_EQ(WordAt(*bitmap, i % side, i / side),
			          Word(color.red, color.green, color.blue, color.alpha))
			    << i;
		}
	}
}

// A resource that is not a complete icon of its type gives no bitmap.
TEST(Icon, RefusesIncompleteIcons)
{
	Resource mini{kMiniIconType, kIconResourceId, kMiniIconName, std::vector<uint8>(256, 3)};
	EXPECT_NE(IconBitmap(mini), nullptr);
	Resource shortMini = mini;
	shortMini.data.pop_back();
	EXPECT_EQ(IconBitmap(shortMini), nullptr);
	Resource largeOfMiniSize{kLargeIconType, kIconResourceId, kLargeIconName,
	                         std::vector<uint8>(256, 3)};
	EXPECT_EQ(IconBitmap(largeOfMiniSize), nullptr);
	Resource notAnIcon{kMimeStringType, kIconResourceId, "x", std::vector<uint8>(256, 3)};
	EXPECT_EQ(IconBitmap(notAnIcon), nullptr);
	EXPECT_EQ(FindIcon({shortMini, notAnIcon}, kMiniIconType), nullptr);
}

} // namespace
