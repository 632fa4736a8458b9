// Reading resource and icon sources at build time, and the section bytes made from them.

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ResourceSection.h"
#include "ResourceSource.h"
#include "ResourceText.h"
#include "Scratch.h"

namespace {

// A small icon source: a 32 x 32 and a 16 x 16 picture, each with one row different.
std::string IconSourceText(char oddPixel = 'K', size_t miniRows = 16)
{
	std::string text = "# test icon\ncolour . transparent\ncolour K #000000\ncolour r #FF0000\n";
	text += "icon 32\n";
	for (int row = 0; row < 32; row++)
		text += std::string(31, row == 5 ? 'r' : '.') + oddPixel + "\n";
	text += "\nicon 16\n";
	for (size_t row = 0; row < miniRows; row++)
		text += std::string(16, 'K') + "\n";
	return text;
}

const char* const kGoodSource = "# resources\n"
                                "icons \"test.icon\"\n"
                                "file_type \"application/x-vnd.Be-elfexecutable\"  # trailing\n"
                                "app_version 1 2 3 golden_master 4 \"Short\" \"Long\\t\\x41\"\n"
                                "app_signature \"\"\n"
                                "file_types\n";

class ResourceSourceFiles : public ScratchTest {
protected:
	std::string Write(const std::string& name, const std::string& text)
	{
		std::string path = Path(name);
		WriteText(path, text);
		return path;
	}
};

// A well-formed source gives the platform's resources in the order of its statements, and
// they come back unchanged from the section bytes made of them.
TEST_F(ResourceSourceFiles, MakesResourcesThatSurviveTheSection)
{
	Write("test.icon", IconSourceText());
	std::string path = Write("Test.rdef", kGoodSource);
	std::vector<Resource> resources;
	std::vector<std::string> inputs;
	std::string error;
	ASSERT_TRUE(ReadResourceSource(path, resources, inputs, error)) << error;
	EXPECT_EQ(inputs, (std::vector<std::string>{path, fFolder + "/test.icon"}));

	std::vector<std::string> described;
	for (const Resource& resource : resources)
		described.push_back(DescribeResource(resource));
	EXPECT_EQ(described,
	          (std::vector<std::string>{
	              "'ICON' 101 \"BEOS:L:STD_ICON\": large icon, 32 x 32 pixels",
	              "'MICN' 101 \"BEOS:M:STD_ICON\": mini icon, 16 x 16 pixels",
	              "'MIMS' 2 \"BEOS:TYPE\": string \"application/x-vnd.Be-elfexecutable\"",
	              "'APPV' 1 \"BEOS:APP_VERSION\": version 1.2.3 (golden master, internal 4), short "
	              "description \"Short\", long description \"Long\\tA\"",
	              "'MIMS' 1 \"BEOS:APP_SIG\": string \"\"",
	              "'MSGG' 1 \"BEOS:FILE_TYPES\": empty message"}));
	// Row 5 of the large icon is red up to its last pixel, which is black like the others;
	// every other pixel is transparent (index 255).
	ASSERT_EQ(resources[0].data.size(), 1024u);
	EXPECT_EQ(resources[0].data[5 * 32], 180);
	EXPECT_EQ(resources[0].data[5 * 32 + 31], 0);
	EXPECT_EQ(resources[0].data[0], 255);

	std::vector<uint8> section = FlattenResources(resources);
	std::vector<Resource> back;
	ASSERT_TRUE(UnflattenResources(section.data(), section.size(), back, error)) << error;
	ASSERT_EQ(back.size(), resources.size());
	for (size_t i = 0; i < back.size(); i++) {
		EXPECT_EQ(back[i].type, resources[i].type);
		EXPECT_EQ(back[i].id, resources[i].id);
		EXPECT_EQ(back[i].name, resources[i].name);
		EXPECT_EQ(back[i].data, resources[i].data);
	}
}

struct SourceErrorRow {
	const char* label;
	std::string source;
	std::string icon;
	// The message, with the test's folder left out of every path in it.
	const char* message;
};

const SourceErrorRow kSourceErrors[] = {
    {"UnknownStatement", "icons \"test.icon\"\nfrobnicate 3\n", IconSourceText(),
     "Test.rdef:2: unknown statement \"frobnicate\""},
    {"UnclosedString", "file_type \"application/x\n", "",
     "Test.rdef:1: a string without its closing quote"},
    {"UnknownEscape", "app_signature \"a\\qb\"\n", "", "Test.rdef:1: unknown escape \\q"},
    {"StrayCharacter", "file_types ;\n", "", "Test.rdef:1: unexpected character ';'"},
    {"EmbeddedNul", "app_signature \"a\\x00\"\n", "",
     "Test.rdef:1: expected: app_signature \"string without NUL\""},
    {"VersionMissingField", "app_version 0 0 0 development \"a\" \"b\"\n", "",
     "Test.rdef:1: expected: app_version <major> <middle> <minor> <variety> <internal> "
     "\"short description\" \"long description\""},
    {"VersionUnknownVariety", "app_version 0 0 0 nightly 0 \"a\" \"b\"\n", "",
     "Test.rdef:1: expected: app_version <major> <middle> <minor> <variety> <internal> "
     "\"short description\" \"long description\""},
    {"ShortDescriptionTooLong",
     "app_version 0 0 0 final 0 \"" + std::string(64, 'x') + "\" \"b\"\n", "",
     "Test.rdef:1: the descriptions take at most 63 and 255 bytes, without NUL"},
    {"RepeatedResource", "file_type \"a\"\nfile_type \"b\"\n", "",
     "Test.rdef:2: a second resource of type 'MIMS' and id 2"},
    {"FileTypesWithEntries", "file_types \"image/png\"\n", "",
     "Test.rdef:1: expected: file_types (the list is empty)"},
    {"MissingIconSource", "icons \"none.icon\"\n", "", "Test.rdef:1: none.icon: cannot open"},
    {"ColourOutsideColourMap", "icons \"test.icon\"\n", "colour x #123456\n",
     "Test.rdef:1: test.icon:1: #123456 is not in the system colour map"},
    {"MalformedColour", "icons \"test.icon\"\n", "colour x red\n",
     "Test.rdef:1: test.icon:1: expected #RRGGBB or transparent, found \"red\""},
    {"RepeatedColour", "icons \"test.icon\"\n", "colour x #000000\ncolour x #FFFFFF\n",
     "Test.rdef:1: test.icon:2: 'x' is already in the palette"},
    {"PixelOutsidePalette", "icons \"test.icon\"\n", IconSourceText('?'),
     "Test.rdef:1: test.icon:6: '?' is not in the palette"},
    {"ShortIcon", "icons \"test.icon\"\n", IconSourceText('K', 9),
     "Test.rdef:1: test.icon:48: the icon of side 16 has only 9 rows"},
    {"MissingMiniIcon", "icons \"test.icon\"\n",
     IconSourceText().substr(0, IconSourceText().find("\nicon 16")),
     "Test.rdef:1: test.icon: needs an icon of side 32 and one of side 16"},
    {"RowTooShort", "icons \"test.icon\"\n", "colour x #000000\nicon 2\nxx\nx\n",
     "Test.rdef:1: test.icon:4: a row of 2 pixels has 1 characters"},
};

void PrintTo(const SourceErrorRow& row, std::ostream* out)
{
	*out << row.label;
}

class ResourceSourceError : public ResourceSourceFiles,
                            public testing::WithParamInterface<SourceErrorRow> {};

// A malformed resource or icon source gives no resources and a message naming the file, the
// line and the problem.
TEST_P(ResourceSourceError, NamesFileLineAndProblem)
{
	Write("test.icon", GetParam().icon);
	std::string path = Write("Test.rdef", GetParam().source);
	std::vector<Resource> resources;
	std::vector<std::string> inputs;
	std::string error;
	EXPECT_FALSE(ReadResourceSource(path, resources, inputs, error));
	EXPECT_TRUE(resources.empty());
	std::string prefix = fFolder + "/";
	for (size_t at; (at = error.find(prefix)) != std::string::npos;)
		error.erase(at, prefix.size());
	EXPECT_EQ(error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Sources, ResourceSourceError, testing::ValuesIn(kSourceErrors),
                         [](const testing::TestParamInfo<SourceErrorRow>& info) {
	                         return info.param.label;
                         });

} // namespace
