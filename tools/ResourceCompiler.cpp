// quimbel_rc: turns an add-on's resource source into the bytes of its resource section, and
// writes a dependency file naming every source it read.
#include <cstdio>
#include <fstream>

#include "ResourceSection.h"
#include "ResourceSource.h"

// A path as make reads it in a dependency file, spaces escaped.
static std::string DependencyPath(const std::string& path)
{
	std::string escaped;
	for (char c : path) {
		if (c == ' ')
			escaped += '\\';
		escaped += c;
	}
	return escaped;
}

static bool WriteFile(const std::string& path, const std::string& text)
{
	std::ofstream file(path, std::ios::binary | std::ios::trunc);
	file << text;
	file.close();
	if (!file)
		fprintf(stderr, "%s: cannot write\n", path.c_str());
	return (bool)file;
}

int main(int argc, char** argv)
{
	if (argc != 4) {
		fprintf(stderr, "usage: %s SOURCE.rdef OUTPUT DEPFILE\n", argv[0]);
		return 2;
	}
	std::vector<Resource> resources;
	std::vector<std::string> inputs;
	std::string error;
	if (!ReadResourceSource(argv[1], resources, inputs, error)) {
		fprintf(stderr, "%s\n", error.c_str());
		return 1;
	}
	std::vector<uint8> section = FlattenResources(resources);
	std::string dependencies = DependencyPath(argv[2]);
	dependencies += ':';
	for (const std::string& input : inputs) {
		dependencies += ' ';
		dependencies += DependencyPath(input);
	}
	dependencies += '\n';
	if (!WriteFile(argv[2], std::string(section.begin(), section.end())) ||
	    !WriteFile(argv[3], dependencies))
		return 1;
	return 0;
}
