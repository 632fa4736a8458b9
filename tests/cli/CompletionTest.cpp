// Shell completion: both scripts load, bash completes commands, options and filter names as the
// program lists them, and both scripts know every option that --help shows.
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

const std::string kBashScript = QUIMBEL_TEST_COMPLETION_DIR "/quimbel.bash";
const std::string kZshScript = QUIMBEL_TEST_COMPLETION_DIR "/_quimbel";

// `text` quoted for a POSIX shell.
std::string ShellQuoted(const std::string& text)
{
	std::string quoted = "'";
	for (char c : text)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
}

struct ShellRun {
	int status = -1;
	std::string out;
};

ShellRun RunShell(const std::string& shell, const std::string& script)
{
	ShellRun run;
	std::string command = shell + " -c " + ShellQuoted(script) + " 2>&1";
	FILE* pipe = popen(command.c_str(), "r");
	if (pipe == NULL) {
		ADD_FAILURE() << "cannot run " << shell;
		return run;
	}
	char buffer[4096];
	size_t count;
	while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
		run.out.append(buffer, count);
	int status = pclose(pipe);
	run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	return run;
}

// What bash's completion function offers for the words of a command line, the last being the
// word completed; one offer a line.
std::string BashCompletes(const std::vector<std::string>& words)
{
	std::string script = "source " + ShellQuoted(kBashScript) + "\nCOMP_WORDS=(";
	script += ShellQuoted(QUIMBEL_TEST_PROGRAM);
	for (const std::string& word : words) {
		script += ' ';
		script += ShellQuoted(word);
	}
	script += ")\nCOMP_CWORD=" + std::to_string(words.size());
	script += "\n_quimbel\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
	ShellRun run = RunShell("bash", script);
	EXPECT_EQ(run.status, 0) << run.out;
	return run.out;
}

std::string ReadText(const std::string& path)
{
	std::ifstream file(path);
	std::stringstream text;
	text << file.rdbuf();
	return text.str();
}

// The bash script registers its function for quimbel.
TEST(Completion, BashLoads)
{
	ShellRun run =
	    RunShell("bash", "source " + ShellQuoted(kBashScript) + " && complete -p quimbel");

	EXPECT_EQ(run.status, 0) << run.out;
	EXPECT_EQ(run.out, "complete -F _quimbel quimbel\n");
}

// The zsh script is valid zsh and, on the function path, compinit binds it to quimbel.
TEST(Completion, ZshLoads)
{
	ShellRun syntax = RunShell("zsh", "zsh -n " + ShellQuoted(kZshScript));
	ShellRun bound =
	    RunShell("zsh", "fpath=(" + ShellQuoted(QUIMBEL_TEST_COMPLETION_DIR) +
	                        " $fpath); autoload -U compinit; compinit -u -D; print -r -- "
	                        "$_comps[quimbel]; autoload -Uz +X _quimbel && print loaded");

	EXPECT_EQ(syntax.status, 0) << syntax.out;
	EXPECT_EQ(bound.status, 0) << bound.out;
	EXPECT_EQ(bound.out, "_quimbel\nloaded\n");
}

struct Completing {
	const char* label;
	std::vector<std::string> words;
	// Every offer, in order, one a line.
	const char* offers;
};

void PrintTo(const Completing& completing, std::ostream* out)
{
	*out << completing.label;
}

class BashCompletion : public ::testing::TestWithParam<Completing> {};

// Commands, then options of the command at hand, then filter names (any case, quoted for the
// shell) where a FILTER goes.
TEST_P(BashCompletion, OffersTheExpectedWords)
{
	EXPECT_EQ(BashCompletes(GetParam().words), GetParam().offers);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, BashCompletion,
    ::testing::Values(Completing{"Command", {"ap"}, "apply\n"},
                      Completing{"CommandAfterOption", {"-q", "l"}, "list\n"},
                      Completing{"ListOptions", {"list", "--j"}, "--json\n"},
                      Completing{"ApplyOptions", {"apply", "--s"}, "--strip\n"},
                      Completing{"GlobalOptionAfterCommand",
                                 {"apply", "--max-"},
                                 "--max-pixels\n--max-side\n--max-memory\n"},
                      Completing{"Filter", {"apply", "neg"}, "Negative\n"},
                      Completing{"FilterByFileName", {"apply", "Inv"}, "Inverter\n"},
                      Completing{"FilterWithSpaces",
                                 {"apply", "rotate"},
                                 "Rotate\\ CCW\\ 90\nRotate\\ CW\\ 90\n"},
                      Completing{"FilterAfterOption",
                                 {"apply", "-j", "2", "Fl"},
                                 "Flip\\ Vertical\nFlip\\ Horizontal\n"},
                      Completing{"Format", {"apply", "--format", "j"}, "jpeg\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// The filters offered are those of the folder given with --addons on the line being completed.
TEST_F(CliTest, BashCompletesFiltersOfTheChosenFolder)
{
	std::string addons = MakeAddonFolder("addons", {FixturePath("NullFilter")});

	EXPECT_EQ(BashCompletes({"--addons", addons, "apply", "No"}), "Nothing\\ \\&\\ \\<more\\>\n");
	EXPECT_EQ(BashCompletes({"--addons", addons, "info", "Nu"}), "NullFilter\n");
}

// The option names (--long and -s) that `help` shows.
std::set<std::string> HelpOptions(const std::string& help)
{
	std::set<std::string> names;
	std::regex option("(^|[ ,])(--?[a-z][a-z-]*)");
	std::istringstream lines(help);
	std::string line;
	bool inOptions = false;
	while (std::getline(lines, line)) {
		if (line.find("Options:") != std::string::npos) {
			inOptions = true;
			continue;
		}
		if (line.find("Subcommands:") != std::string::npos)
			inOptions = false;
		// Option lines start with the names; descriptions follow after a wide gap.
		if (!inOptions || line.rfind("  ", 0) != 0)
			continue;
		std::string head = line.substr(0, line.find("   ", 2));
		for (std::sregex_iterator it(head.begin(), head.end(), option), end; it != end; ++it)
			names.insert((*it)[2]);
	}
	return names;
}

// Every option of the program and of each command is known to both scripts, so that neither
// falls behind the program.
TEST(Completion, ScriptsKnowEveryOption)
{
	std::string bash = ReadText(kBashScript);
	std::string zsh = ReadText(kZshScript);
	RunResult help = RunQuimbel({"--help"});
	std::set<std::string> options = HelpOptions(help.out);
	for (const char* command : {"list", "apply", "gallery", "info", "check"}) {
		EXPECT_NE(bash.find(command), std::string::npos) << command;
		EXPECT_NE(zsh.find(std::string(command) + ":"), std::string::npos) << command;
		std::set<std::string> more = HelpOptions(RunQuimbel({command, "--help"}).out);
		options.insert(more.begin(), more.end());
	}

	ASSERT_TRUE(options.count("--addons") && options.count("--json") && options.count("-j"))
	    << help.out;
	for (const std::string& option : options) {
		std::regex word("(^|[^a-z-])" + option + "([^a-z-]|$)");
		EXPECT_TRUE(std::regex_search(bash, word)) << "the bash script lacks " << option;
		EXPECT_TRUE(std::regex_search(zsh, word)) << "the zsh script lacks " << option;
	}
}

} // namespace
