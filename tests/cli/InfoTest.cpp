// quimbel info: each add-on's filter and resources, its icons as PNG files, and damaged files.
#include <algorithm>
#include <filesystem>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

// What every add-on file shows: the filter it makes and the resources it carries.
struct AddonInfo {
	const char* file;
	const char* id;
	const char* name;
	// The version record's descriptions as shown: quoted, a tab as \t.
	const char* shortDescription;
	const char* longDescription;
	bool hasSignatureAndFileTypes;
};

const AddonInfo kAddonInfo[] = {
    {"ChannelLift", "1", "Brighten", "Quimbel Filter", "Quimbel Filter", true},
    {"ColumnMirror", "4", "Flip Vertical", "Quimbel Filter", "Quimbel Filter", true},
    {"CopyThrough", "100", "My", "QuimbelFilter", "QuimbelFilter\\t", true},
    {"Enlarger", "11", "Double", "Quimbel Filter", "Quimbel Filter", true},
    {"Inverter", "'nega'", "Negative", "", "", false},
    {"RowMirror", "5", "Flip Horizontal", "Quimbel Filter", "Quimbel Filter", true},
    {"Shrinker", "10", "Half", "Quimbel Filter", "Quimbel Filter", true},
    {"TurnLeft", "8", "Rotate CCW 90", "Quimbel Filter", "Quimbel Filter", true},
    {"TurnRight", "9", "Rotate CW 90", "Quimbel Filter", "Quimbel Filter", true},
};

const AddonInfo& InfoOf(const std::string& file)
{
	for (const AddonInfo& info : kAddonInfo) {
		if (file == info.file)
			return info;
	}
	ADD_FAILURE() << "no expected info for " << file;
	return kAddonInfo[0];
}

// The lines quimbel info prints for the add-on at `path`.
std::string ExpectedInfo(const std::string& path, const AddonInfo& info)
{
	std::string text = path + "\n";
	text += std::string("  filter id ") + info.id + ", name \"" + info.name + "\"\n";
	text += "  'ICON' 101 \"BEOS:L:STD_ICON\": large icon, 32 x 32 pixels\n";
	text += "  'MICN' 101 \"BEOS:M:STD_ICON\": mini icon, 16 x 16 pixels\n";
	text += "  'MIMS' 2 \"BEOS:TYPE\": string \"application/x-vnd.Be-elfexecutable\"\n";
	text += "  'APPV' 1 \"BEOS:APP_VERSION\": version 0.0.0 (development, internal 0), short "
	        "description \"" +
	        std::string(info.shortDescription) + "\", long description \"" + info.longDescription +
	        "\"\n";
	if (info.hasSignatureAndFileTypes) {
		text += "  'MIMS' 1 \"BEOS:APP_SIG\": string \"\"\n";
		text += "  'MSGG' 1 \"BEOS:FILE_TYPES\": empty message\n";
	}
	return text;
}

std::string AddonFile(const std::string& file)
{
	return BuiltAddonFolder() + "/" + file;
}

void PrintTo(const AddonInfo& info, std::ostream* out)
{
	*out << info.file;
}

typedef CliTest Info;

class InfoOfAddon : public ::testing::TestWithParam<AddonInfo> {};

// Every add-on shows its filter's id and name and exactly its resources: two icons, the file
// type, the version record with its descriptions, and the signature and file-types list where
// the add-on has them.
TEST_P(InfoOfAddon, ShowsTheFilterAndEveryResource)
{
	std::string path = AddonFile(GetParam().file);

	RunResult run = RunQuimbel({"info", path});

	EXPECT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(run.err, "");
	EXPECT_EQ(run.out, ExpectedInfo(path, GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Addons, InfoOfAddon, ::testing::ValuesIn(kAddonInfo),
                         [](const auto& info) { return std::string(info.param.file); });

// Every add-on file of the build has its row above, so that none goes unchecked.
TEST(InfoOfAddons, CoverEveryBuiltAddon)
{
	std::vector<std::string> expected;
	for (const AddonInfo& info : kAddonInfo)
		expected.push_back(info.file);
	EXPECT_EQ(BuiltAddonFiles(), expected);
}

struct NamedAddon {
	const char* label;
	const char* argument;
	const char* file;
};

const NamedAddon kNamedAddons[] = {
    {"DisplayName", "Negative", "Inverter"}, {"DisplayNameAnyCase", "rotate cw 90", "TurnRight"},
    {"FileName", "Shrinker", "Shrinker"},    {"FileNameAnyCase", "columnmirror", "ColumnMirror"},
    {"NumericId", "100", "CopyThrough"},     {"CodeId", "nega", "Inverter"},
    {"QuotedCodeId", "'nega'", "Inverter"},
};

void PrintTo(const NamedAddon& named, std::ostream* out)
{
	*out << named.label;
}

class InfoByName : public ::testing::TestWithParam<NamedAddon> {};

// An argument that is no file picks an add-on of the add-on folder the way apply's FILTER does,
// and shows it under its path in that folder.
TEST_P(InfoByName, ShowsTheAddonOfTheFolder)
{
	RunResult run = RunQuimbel({"--addons", BuiltAddonFolder(), "info", GetParam().argument});

	EXPECT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(run.out, ExpectedInfo(AddonFile(GetParam().file), InfoOf(GetParam().file)));
}

INSTANTIATE_TEST_SUITE_P(Names, InfoByName, ::testing::ValuesIn(kNamedAddons),
                         [](const auto& info) { return std::string(info.param.label); });

// A name that matches no add-on is reported with the choices, and the other arguments are
// still shown.
TEST_F(Info, UnknownNameFailsAndOthersGoOn)
{
	RunResult run =
	    RunQuimbel({"--addons", BuiltAddonFolder(), "info", "Sharpen", AddonFile("Enlarger")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, ExpectedInfo(AddonFile("Enlarger"), InfoOf("Enlarger")));
	EXPECT_NE(run.err.find("quimbel: Sharpen: no such file; unknown filter \"Sharpen\""),
	          std::string::npos)
	    << run.err;
	EXPECT_NE(run.err.find("Inverter  id 'nega'  \"Negative\""), std::string::npos) << run.err;
}

struct DamagedFile {
	const char* label;
	// The file made from the bytes of a real add-on.
	Bytes (*make)(const Bytes& addon);
	const char* message;
};

const DamagedFile kDamagedFiles[] = {
    {"Empty", [](const Bytes&) { return Bytes(); }, "not an ELF file"},
    {"NotElf",
     [](const Bytes&) {
	     std::string text = "#!/bin/sh\necho not an add-on\n";
	     return Bytes(text.begin(), text.end());
     },
     "not an ELF file"},
    {"HeaderCut", [](const Bytes& addon) { return Bytes(addon.begin(), addon.begin() + 20); },
     "truncated or damaged ELF header"},
    {"TruncatedAfterHeader",
     [](const Bytes& addon) { return Bytes(addon.begin(), addon.begin() + 4096); },
     "truncated ELF file: the section header table claims "},
};

void PrintTo(const DamagedFile& damaged, std::ostream* out)
{
	*out << damaged.label;
}

class InfoOfDamagedFile : public CliTest, public ::testing::WithParamInterface<DamagedFile> {};

// A damaged file or one that is no add-on gets a message naming it and the status 1; the next
// file is still shown in full.
TEST_P(InfoOfDamagedFile, ReportsItAndGoesOn)
{
	WriteBytes(Path("bad"), GetParam().make(ReadBytes(AddonFile("CopyThrough"))));

	RunResult run = RunQuimbel({"info", Path("bad"), AddonFile("TurnLeft")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, ExpectedInfo(AddonFile("TurnLeft"), InfoOf("TurnLeft")));
	EXPECT_EQ(run.err.rfind("quimbel: " + Path("bad") + ": " + GetParam().message, 0), 0u)
	    << run.err;
	EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Files, InfoOfDamagedFile, ::testing::ValuesIn(kDamagedFiles),
                         [](const auto& info) { return std::string(info.param.label); });

// A loadable add-on without resources shows no filter either: it is refused before it is loaded.
TEST_F(Info, AddonWithoutResourcesFails)
{
	RunResult run = RunQuimbel({"info", FixturePath("NullFilter")});

	EXPECT_EQ(run.status, 1);
	EXPECT_EQ(run.out, "");
	EXPECT_NE(run.err.find(FixturePath("NullFilter") + ": no resources"), std::string::npos)
	    << run.err;
}

// --icons writes both icons of every add-on, named after the add-on, into a folder it creates:
// 32 x 32 and 16 x 16 images with transparency, the same two in all nine.
TEST_F(Info, WritesBothIconsOfEveryAddon)
{
	std::vector<std::string> arguments = {"info"};
	std::vector<std::string> expectedFiles;
	for (const std::string& file : BuiltAddonFiles()) {
		arguments.push_back(AddonFile(file));
		expectedFiles.push_back(file + "-large.png");
		expectedFiles.push_back(file + "-mini.png");
	}
	std::string icons = Path("new/icons");
	arguments.insert(arguments.end(), {"--icons", icons});

	RunResult run = RunQuimbel(arguments);

	ASSERT_EQ(run.status, 0) << run.err;
	EXPECT_EQ(Entries(icons), expectedFiles);
	std::unique_ptr<BBitmap> firstLarge = ReadBack(icons + "/ChannelLift-large.png");
	std::unique_ptr<BBitmap> firstMini = ReadBack(icons + "/ChannelLift-mini.png");
	ASSERT_TRUE(firstLarge != NULL && firstMini != NULL);
	for (const std::string& file : BuiltAddonFiles()) {
		EXPECT_NE(run.out.find("  wrote " + icons + "/" + file + "-mini.png\n"), std::string::npos);
		std::unique_ptr<BBitmap> large = ReadBack(icons + "/" + file + "-large.png");
		std::unique_ptr<BBitmap> mini = ReadBack(icons + "/" + file + "-mini.png");
		ASSERT_TRUE(large != NULL && mini != NULL) << file;
		EXPECT_EQ(large->Bounds(), BRect(0, 0, 31, 31)) << file;
		EXPECT_EQ(mini->Bounds(), BRect(0, 0, 15, 15)) << file;
		EXPECT_EQ(large->ColorSpace(), B_RGBA32) << file;
		EXPECT_TRUE(Words(*large) == Words(*firstLarge)) << file;
		EXPECT_TRUE(Words(*mini) == Words(*firstMini)) << file;
	}
}

// Icons that cannot be written fail the command with a message; two add-ons of one file name
// do not overwrite each other's icons, while one add-on named twice is simply shown twice.
TEST_F(Info, IconFailures)
{
	WriteBytes(Path("file"), Bytes(1, 0));
	RunResult blocked = RunQuimbel({"info", AddonFile("Inverter"), "--icons", Path("file/icons")});
	EXPECT_EQ(blocked.status, 1);
	EXPECT_NE(blocked.err.find(Path("file/icons") + ": cannot create the icon folder"),
	          std::string::npos)
	    << blocked.err;

	std::string other = MakeAddonFolder("other", {AddonFile("Inverter")});
	RunResult twice =
	    RunQuimbel({"info", AddonFile("Inverter"), other + "/Inverter", "--icons", Path("icons")});
	EXPECT_EQ(twice.status, 1);
	EXPECT_NE(
	    twice.err.find(other + "/Inverter: has the same file name as " + AddonFile("Inverter")),
	    std::string::npos)
	    << twice.err;
	EXPECT_EQ(twice.out, ExpectedInfo(AddonFile("Inverter"), InfoOf("Inverter")) + "  wrote " +
	                         Path("icons/Inverter-large.png") + "\n  wrote " +
	                         Path("icons/Inverter-mini.png") + "\n");
	EXPECT_EQ(Entries(Path("icons")),
	          std::vector<std::string>({"Inverter-large.png", "Inverter-mini.png"}));

	RunResult same = RunQuimbel({"--addons", BuiltAddonFolder(), "info", AddonFile("Inverter"),
	                             "Negative", "--icons", Path("icons"), "--overwrite"});
	EXPECT_EQ(same.status, 0) << same.err;
	// Shown twice, six lines each, and its two icons written once.
	EXPECT_EQ(std::count(same.out.begin(), same.out.end(), '\n'), 2 * 6 + 2);
}

} // namespace
