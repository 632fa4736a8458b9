// The installed kit: the host of an installation finds its own add-ons, and an add-on built
// outside the tree against the installation (examples/sepia) loads, carries its resources and
// filters. The fixture install_prepare_kit has installed and built both before these run.
#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Scratch.h"
#include "TestSupport.h"

extern char** environ;

using testing::HasSubstr;
using testing::Not;

namespace {

struct Outcome {
	int status = -1;
	std::string out;
	std::string err;
};

class InstalledKit : public ScratchTest {
protected:
	// Runs the installed quimbel with `arguments`, without QUIMBEL_ADDONS in its environment,
	// its output streams going through files of the scratch folder.
	Outcome RunInstalled(const std::vector<std::string>& arguments)
	{
		std::vector<std::string> argv = {QUIMBEL_KIT_PROGRAM};
		argv.insert(argv.end(), arguments.begin(), arguments.end());
		std::vector<char*> argvPointers;
		for (std::string& argument : argv)
			argvPointers.push_back(&argument[0]);
		argvPointers.push_back(NULL);
		std::vector<char*> envpPointers;
		for (char** entry = environ; *entry != NULL; entry++) {
			if (strncmp(*entry, "QUIMBEL_ADDONS=", 15) != 0)
				envpPointers.push_back(*entry);
		}
		envpPointers.push_back(NULL);

		posix_spawn_file_actions_t actions;
		posix_spawn_file_actions_init(&actions);
		posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
		posix_spawn_file_actions_addopen(&actions, 1, Path("out").c_str(),
		                                 O_WRONLY | O_CREAT | O_TRUNC, 0600);
		posix_spawn_file_actions_addopen(&actions, 2, Path("err").c_str(),
		                                 O_WRONLY | O_CREAT | O_TRUNC, 0600);
		Outcome outcome;
		pid_t child;
		int status;
		if (posix_spawn(&child, argv[0].c_str(), &actions, NULL, argvPointers.data(),
		                envpPointers.data()) == 0 &&
		    waitpid(child, &status, 0) == child)
			outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
		posix_spawn_file_actions_destroy(&actions);
		EXPECT_GE(outcome.status, 0) << "cannot run " << argv[0];
		Bytes out = ReadBytes(Path("out"));
		Bytes err = ReadBytes(Path("err"));
		outcome.out.assign(out.begin(), out.end());
		outcome.err.assign(err.begin(), err.end());
		return outcome;
	}
};

// The first word of every line of `text`.
std::vector<std::string> FirstWords(const std::string& text)
{
	std::vector<std::string> words;
	std::istringstream lines(text);
	std::string line;
	while (std::getline(lines, line))
		words.push_back(line.substr(0, line.find(' ')));
	return words;
}

// The long options that lines of a help text start with, and its environment variables.
std::set<std::string> HelpNames(const std::string& help)
{
	std::set<std::string> names;
	std::regex option("^ +(-[a-zA-Z],)?(--[a-z][a-z-]*)");
	std::regex variable("Env:([A-Z_]+)");
	std::istringstream lines(help);
	std::string line;
	std::smatch match;
	while (std::getline(lines, line)) {
		if (std::regex_search(line, match, option))
			names.insert(match[2]);
		if (std::regex_search(line, match, variable))
			names.insert(match[1]);
	}
	return names;
}

// The commands a help text lists under "Subcommands:".
std::vector<std::string> HelpCommands(const std::string& help)
{
	std::vector<std::string> commands;
	size_t start = help.find("\nSubcommands:\n");
	if (start == std::string::npos)
		return commands;
	std::istringstream lines(help.substr(start + 14));
	std::string line;
	std::smatch match;
	while (std::getline(lines, line) && std::regex_search(line, match, std::regex("^ +(\\S+)")))
		commands.push_back(match[1]);
	return commands;
}

} // namespace

// Without --addons the installed host reads <prefix>/lib/quimbel/addons, which holds what the
// build made.
TEST_F(InstalledKit, HostReadsTheInstalledAddonsByDefault)
{
	std::vector<std::string> built = BuiltAddonFiles();
	ASSERT_FALSE(built.empty());
	EXPECT_EQ(Entries(QUIMBEL_KIT_ADDONS), built);

	Outcome list = RunInstalled({"list"});
	ASSERT_EQ(list.status, 0) << list.err;
	EXPECT_EQ(FirstWords(list.out), built) << list.out;
}

// Built with find_package(Quimbel) and quimbel_add_filter alone: a loadable add-on with the
// filter of its code and the resources of its .rdef in its section.
TEST_F(InstalledKit, ExampleIsAnAddonWithItsResources)
{
	Outcome list = RunInstalled({"list", "--addons", QUIMBEL_KIT_EXAMPLE_ADDONS});
	ASSERT_EQ(list.status, 0) << list.err;
	// The folder of --addons comes first, the installed add-ons after it.
	EXPECT_TRUE(std::regex_search(list.out, std::regex("^Sepia +'sepi' +Sepia\n"))) << list.out;
	EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 10) << list.out;

	Outcome info = RunInstalled({"info", std::string(QUIMBEL_KIT_EXAMPLE_ADDONS) + "/Sepia"});
	ASSERT_EQ(info.status, 0) << info.err;
	EXPECT_THAT(info.out, HasSubstr("filter id 'sepi', name \"Sepia\""));
	EXPECT_THAT(info.out, HasSubstr("large icon, 32 x 32 pixels"));
	EXPECT_THAT(info.out, HasSubstr("mini icon, 16 x 16 pixels"));
	EXPECT_THAT(info.out, HasSubstr("version 1.0.0 (development, internal 0), short description "
	                                "\"Sepia\""));
}

// The installed quimbel finds nothing to fault in the example built against the kit.
TEST_F(InstalledKit, ExamplePassesEveryCheck)
{
	Outcome check = RunInstalled({"check", std::string(QUIMBEL_KIT_EXAMPLE_ADDONS) + "/Sepia"});

	EXPECT_EQ(check.status, 0) << check.out << check.err;
	EXPECT_THAT(check.out, HasSubstr("  passed: Run twice gives the same bytes\n"));
	EXPECT_THAT(check.out, Not(HasSubstr("failed:")));
}

TEST_F(InstalledKit, ExampleTonesAColouredPictureSepia)
{
	// The sample has pixels out of sepia's order, so a result that merely copies it fails.
	BitmapPtr source = ReadSample("chelsea.png");
	ASSERT_NE(source, nullptr);
	std::vector<uint32> words = Words(*source);
	ASSERT_TRUE(std::any_of(words.begin(), words.end(), [](uint32 word) {
		uint8 red = word >> 16, green = word >> 8, blue = word;
		return red < green || green < blue;
	}));

	std::string output = Path("sepia.png");
	Outcome apply = RunInstalled({"apply", "Sepia", SamplePath("chelsea.png"), output, "--addons",
	                              QUIMBEL_KIT_EXAMPLE_ADDONS});
	ASSERT_EQ(apply.status, 0) << apply.err;

	Bytes file = ReadBytes(output);
	ASSERT_GE(file.size(), 8u);
	ASSERT_EQ(png_sig_cmp(file.data(), 0, 8), 0) << "not a PNG";
	png_image image;
	memset(&image, 0, sizeof(image));
	image.version = PNG_IMAGE_VERSION;
	ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()))
	    << image.message;
	image.format = PNG_FORMAT_RGB;
	std::vector<uint8> pixels(PNG_IMAGE_SIZE(image));
	ASSERT_TRUE(png_image_finish_read(&image, NULL, pixels.data(), 0, NULL)) << image.message;
	EXPECT_EQ((int32)image.width, source->Bounds().IntegerWidth() + 1);
	EXPECT_EQ((int32)image.height, source->Bounds().IntegerHeight() + 1);

	size_t outOfOrder = 0;
	size_t warm = 0;
	for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
		outOfOrder += pixels[i] < pixels[i + 1] || pixels[i + 1] < pixels[i + 2];
		warm += pixels[i] > pixels[i + 2];
	}
	EXPECT_EQ(outOfOrder, 0u);
	// Not grey either: sepia leaves red above blue wherever the picture is not black or white.
	EXPECT_GT(warm, pixels.size() / 3 / 2);
}

// Every command and every option the installed program's help names, and the environment
// variable it reads, has its place in the installed manual page.
TEST_F(InstalledKit, ManualPageCoversTheHelp)
{
	Bytes page = ReadBytes(QUIMBEL_KIT_MANUAL);
	std::string manual =
	    std::regex_replace(std::string(page.begin(), page.end()), std::regex("\\\\-"), "-");
	ASSERT_THAT(manual, HasSubstr(".TH QUIMBEL 1 "));

	Outcome help = RunInstalled({"--help"});
	ASSERT_EQ(help.status, 0) << help.err;
	std::set<std::string> names = HelpNames(help.out);
	std::vector<std::string> commands = HelpCommands(help.out);
	ASSERT_FALSE(commands.empty()) << help.out;
	for (const std::string& command : commands) {
		EXPECT_TRUE(std::regex_search(manual, std::regex("\n\\.TP\n\\.BI? " + command + "[ \n]")))
		    << "the manual page has no entry for the command " << command;
		Outcome commandHelp = RunInstalled({command, "--help"});
		ASSERT_EQ(commandHelp.status, 0) << commandHelp.err;
		std::set<std::string> commandNames = HelpNames(commandHelp.out);
		names.insert(commandNames.begin(), commandNames.end());
	}
	ASSERT_TRUE(names.count("--addons")) << help.out;
	for (const std::string& name : names)
		EXPECT_NE(manual.find(name), std::string::npos) << "the manual page never names " << name;
}

// The shell completion is installed where bash-completion and zsh look under the prefix, and
// the bash script offers the installed add-ons' filters, asking the installed program.
TEST_F(InstalledKit, ShellCompletionIsInstalled)
{
	Bytes zsh = ReadBytes(QUIMBEL_KIT_DATA "/zsh/site-functions/_quimbel");
	EXPECT_THAT(std::string(zsh.begin(), zsh.end()), HasSubstr("#compdef quimbel"));

	std::string script = "source '" QUIMBEL_KIT_DATA "/bash-completion/completions/quimbel'\n"
	                     "COMP_WORDS=('" QUIMBEL_KIT_PROGRAM "' apply Neg)\n"
	                     "COMP_CWORD=2\n"
	                     "_quimbel\n"
	                     "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
	WriteBytes(Path("complete.sh"), Bytes(script.begin(), script.end()));
	FILE* pipe = popen(("bash " + Path("complete.sh")).c_str(), "r");
	ASSERT_NE(pipe, nullptr);
	std::string offers;
	char buffer[256];
	size_t count;
	while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
		offers.append(buffer, count);
	EXPECT_EQ(pclose(pipe), 0);
	EXPECT_EQ(offers, "Negative\n");
}
