// JSON for scripts: the writer's escaping and layout, and list --json and info --json read back
// with Python's parser, which must agree with the plain output of the same commands.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "CliSupport.h"
#include "JsonWriter.h"
#include "TestSupport.h"

namespace {

struct Escape {
	std::string text;
	std::string json;
};

void PrintTo(const Escape& escape, std::ostream* out)
{
	*out << escape.json;
}

class JsonEscape : public ::testing::TestWithParam<Escape> {};

// Quotes, backslashes and controls are escaped, C1 controls and line separators too; UTF-8
// passes as it is and bytes that are no UTF-8 become U+FFFD.
TEST_P(JsonEscape, MakesAValidString)
{
	EXPECT_EQ(JsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, JsonEscape,
    ::testing::Values(
        Escape{"", "\"\""}, Escape{"plain", "\"plain\""},
        Escape{"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        Escape{"line\nbreak\ttab\r", "\"line\\nbreak\\ttab\\r\""},
        Escape{std::string("nul\0bell\a\x1b[31m", 14), "\"nul\\u0000bell\\u0007\\u001b[31m\""},
        Escape{"del\x7f c1\xc2\x9b", "\"del\\u007f c1\\u009b\""},
        Escape{"caf\xc3\xa9 \xf0\x9f\x93\xb7", "\"caf\xc3\xa9 \xf0\x9f\x93\xb7\""},
        Escape{"sep\xe2\x80\xa8", "\"sep\\u2028\""},
        Escape{"bad\xff\xc3", "\"bad\xef\xbf\xbd\xef\xbf\xbd\""},
        Escape{"overlong\xc0\xaf", "\"overlong\xef\xbf\xbd\xef\xbf\xbd\""},
        Escape{"surrogate\xed\xa0\x80", "\"surrogate\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""}));

// Nested objects and arrays are laid out two spaces a level, with commas between values and
// empty ones kept on one line.
TEST(JsonWriter, LaysOutNestedValues)
{
	JsonWriter json;
	json.BeginObject();
	json.Key("list");
	json.BeginArray();
	json.Number(-1);
	json.Bool(true);
	json.Null();
	json.BeginObject();
	json.EndObject();
	json.EndArray();
	json.Key("empty");
	json.BeginArray();
	json.EndArray();
	json.Key("name");
	json.String("x");
	json.EndObject();

	EXPECT_EQ(json.Text(), "{\n"
	                       "  \"list\": [\n"
	                       "    -1,\n"
	                       "    true,\n"
	                       "    null,\n"
	                       "    {}\n"
	                       "  ],\n"
	                       "  \"empty\": [],\n"
	                       "  \"name\": \"x\"\n"
	                       "}\n");
}

class JsonCommand : public CliTest {
protected:
	// Runs `script` with Python 3 on the JSON `document` (as the file named by sys.argv[1]);
	// returns what it prints. The test fails when Python cannot parse the document.
	std::string Python(const std::string& script, const std::string& document)
	{
		std::string file = Path("document.json");
		WriteText(file, document);
		WriteText(Path("script.py"), "import json, sys\n"
		                             "data = json.load(open(sys.argv[1], encoding='utf-8'))\n" +
		                                 script);
		std::string command = "python3 " + Path("script.py") + " " + file;
		FILE* pipe = popen(command.c_str(), "r");
		if (pipe == NULL) {
			ADD_FAILURE() << "cannot run python3";
			return "";
		}
		std::string output;
		char buffer[4096];
		size_t count;
		while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
			output.append(buffer, count);
		EXPECT_EQ(pclose(pipe), 0) << document;
		return output;
	}
};

// list --json holds what the table shows, add-on for add-on, plus each file's path; a foreign
// add-on has no description; shadowed add-ons and problem files are listed.
TEST_F(JsonCommand, ListAgreesWithTheTable)
{
	std::string addons =
	    MakeAddonFolder("addons", {AddonPath("CopyThrough"), FixturePath("NullFilter")});
	WriteBytes(addons + "/README", Bytes(5, 'x'));

	RunResult table = RunQuimbel({"--addons", addons, "list"});
	RunResult json = RunQuimbel({"--addons", addons, "list", "--json"});

	EXPECT_EQ(json.status, table.status);
	EXPECT_EQ(json.status, 1);
	std::string rebuilt = Python(
	    "for a in data['addons']:\n"
	    "    print(' '.join([a['file'], a['id_text'], a['name']] +\n"
	    "                   ([a['description']] if a['description'] is not None else [])))\n"
	    "    assert a['path'].endswith('/' + a['file'])\n"
	    "for s in data['shadowed']:\n"
	    "    print('shadowed: ' + s)\n"
	    "print(len(data['problems']), '/README: not a loadable add-on' in data['problems'][0])\n",
	    json.out);
	EXPECT_EQ(rebuilt, Squeezed(table.out) + "1 True\n");
	EXPECT_NE(rebuilt.find("NullFilter 'null' Nothing & <more>\n"), std::string::npos) << rebuilt;
}

// The numeric id in JSON is the filter's id: a four-character code as its 32-bit value.
TEST_F(JsonCommand, IdsAreNumbers)
{
	RunResult json = RunQuimbel({"list", "--json"});

	ASSERT_EQ(json.status, 0) << json.err;
	EXPECT_EQ(
	    Python("print([a['id'] for a in data['addons'] if a['file'] == 'Inverter'])", json.out),
	    "[1852139361]\n");
}

// info --json holds what info shows, line for line once quoted back, plus the resources' sizes
// and the icons written; an add-on that cannot be read is left out, as in the plain output.
TEST_F(JsonCommand, InfoAgreesWithThePlainOutput)
{
	std::vector<std::string> arguments = {"info", "Negative", "My", "--icons", Path("icons")};
	std::vector<std::string> jsonArguments = arguments;
	jsonArguments.push_back("--json");
	jsonArguments.push_back("-y");

	RunResult plain = RunQuimbel(arguments);
	RunResult json = RunQuimbel(jsonArguments);

	ASSERT_EQ(plain.status, 0) << plain.err;
	ASSERT_EQ(json.status, 0) << json.err;
	std::string rebuilt = Python(
	    "def quoted(s):\n"
	    "    return '\"' + s.replace('\\\\', '\\\\\\\\').replace('\"', '\\\\\"') + '\"'\n"
	    "for a in data['addons']:\n"
	    "    print(a['path'])\n"
	    "    f = a['filter']\n"
	    "    print('  filter id %s, name %s' % (f['id_text'], quoted(f['name'])))\n"
	    "    for r in a['resources']:\n"
	    "        print('  %s %d %s: %s' % (r['type'], r['id'], quoted(r['name']), r['data']))\n"
	    "        assert r['size'] > 0\n"
	    "    for i in a['icons']:\n"
	    "        print('  wrote ' + i)\n",
	    json.out);
	EXPECT_EQ(rebuilt, plain.out);
}

// A failing add-on is reported on standard error and left out of the document, which is still
// whole; the status says that something failed.
TEST_F(JsonCommand, InfoWithAFailure)
{
	RunResult json = RunQuimbel({"info", "--json", "Sepia", "Negative"});

	EXPECT_EQ(json.status, 1);
	EXPECT_NE(json.err.find("Sepia: no such file"), std::string::npos) << json.err;
	EXPECT_EQ(Python("print([a['filter']['name'] for a in data['addons']])", json.out),
	          "['Negative']\n");
}

// The README describes each add-on in the words list uses.
TEST_F(JsonCommand, ReadmeSaysWhatListSays)
{
	std::ifstream file(std::string(QUIMBEL_TEST_SAMPLES_DIR) + "/../README.md");
	std::stringstream readme;
	readme << file.rdbuf();
	RunResult json = RunQuimbel({"list", "--json"});
	ASSERT_EQ(json.status, 0) << json.err;

	std::string rows = Python("for a in data['addons']:\n"
	                          "    print('| %s | `%s` | %s |' % (a['name'], a['file'],\n"
	                          "                                  a['description']))\n",
	                          json.out);
	std::istringstream lines(rows);
	std::string row;
	int count = 0;
	while (std::getline(lines, row)) {
		EXPECT_NE(readme.str().find(row), std::string::npos) << row;
		count++;
	}
	EXPECT_EQ(count, 9);
}

} // namespace
