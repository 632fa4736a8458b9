#include "AddonFolder.h"

#include "FilterRun.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
	return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
		       return tolower((unsigned char)x) == tolower((unsigned char)y);
	       });
}

bool IsFolder(const std::string& path)
{
	struct stat status;
	return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The number `text` spells in decimal, if it is one that fits an id.
bool ParseNumericId(const std::string& text, int32& id)
{
	if (text.empty() || text.size() > 11)
		return false;
	size_t start = text[0] == '-' ? 1 : 0;
	if (start == text.size())
		return false;
	for (size_t i = start; i < text.size(); i++) {
		if (!isdigit((unsigned char)text[i]))
			return false;
	}
	long long value = strtoll(text.c_str(), NULL, 10);
	if (value < INT32_MIN || value > INT32_MAX)
		return false;
	id = (int32)value;
	return true;
}

// The four-character code `text` spells, as 'nega' or nega.
bool ParseCodeId(const std::string& text, int32& id)
{
	std::string code = text;
	if (code.size() == 6 && code.front() == '\'' && code.back() == '\'')
		code = code.substr(1, 4);
	if (code.size() != 4)
		return false;
	uint32 value = 0;
	for (char c : code)
		value = value << 8 | (uint8)c;
	id = (int32)value;
	return true;
}

std::vector<std::string> ListChoices(const std::vector<const AddonEntry*>& entries)
{
	std::vector<std::string> lines;
	for (const AddonEntry* entry : entries) {
		lines.push_back(entry->fileName + "  id " + FormatFilterId(entry->id) + "  \"" +
		                entry->name + "\"");
	}
	return lines;
}

} // namespace

std::string AddonFolder::DefaultPath()
{
	char buffer[PATH_MAX];
	ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
	if (length <= 0)
		return QUIMBEL_ADDON_RELATIVE_DIR;
	buffer[length] = '\0';

	std::filesystem::path programFolder = std::filesystem::path(buffer).parent_path();
	// The build tree always uses lib/; an installation may use a multiarch library folder.
	std::string candidates[] = {
	    (programFolder / "../lib/quimbel/addons").lexically_normal().string(),
	    (programFolder / QUIMBEL_ADDON_RELATIVE_DIR).lexically_normal().string(),
	};
	for (const std::string& candidate : candidates) {
		if (IsFolder(candidate))
			return candidate;
	}
	return candidates[0];
}

bool AddonFolder::Scan(const std::string& path, std::string& error)
{
	fPath = path.empty() ? DefaultPath() : path;
	fEntries.clear();
	fProblems.clear();

	DIR* folder = opendir(fPath.c_str());
	if (folder == NULL) {
		error = fPath + ": cannot read the add-on folder: " + strerror(errno);
		return false;
	}

	std::vector<std::string> names;
	while (struct dirent* item = readdir(folder)) {
		if (item->d_name[0] != '.')
			names.push_back(item->d_name);
	}
	closedir(folder);
	std::sort(names.begin(), names.end());

	// Every worker is started before any is waited for, so that they load their add-ons at once;
	// the results are taken in the order of the names.
	std::vector<Candidate> candidates;
	for (const std::string& name : names) {
		Candidate candidate{name, fPath + "/" + name, "", NULL};
		struct stat status;
		if (stat(candidate.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
			continue;
		if (IsLoadableObject(candidate.path, candidate.problem) && fWorkers)
			candidate.worker = AddonWorker::Launch(candidate.path, fLimits, candidate.problem);
		if (!candidate.problem.empty())
			candidate.problem = AddonProblem(candidate.path, candidate.problem);
		candidates.push_back(std::move(candidate));
	}
	for (Candidate& candidate : candidates) {
		if (!candidate.problem.empty())
			fProblems.push_back(candidate.problem);
		else if (fWorkers)
			_LoadInWorker(candidate);
		else
			_LoadInProcess(candidate.path, candidate.name);
	}

	if (fEntries.empty()) {
		error = fPath + ": no filter add-ons found";
		return false;
	}
	return true;
}

void AddonFolder::UseWorkers(const WorkerLimits& limits)
{
	fWorkers = true;
	fLimits = limits;
}

bool AddonFolder::_LoadInProcess(const std::string& path, const std::string& name)
{
	std::string problem;
	FilterPtr filter = LoadFilter(path, problem);
	if (filter == NULL) {
		fProblems.push_back(problem);
		return false;
	}
	std::string displayName = FilterName(*filter);
	int32 id = filter->id;
	fEntries.push_back(AddonEntry{std::move(filter), NULL, name, id, displayName});
	return true;
}

bool AddonFolder::_LoadInWorker(Candidate& candidate)
{
	const std::string& path = candidate.path;
	std::string problem;
	// Whatever the add-on prints while it is loaded goes out unchanged.
	std::unique_ptr<AddonWorker> worker = std::move(candidate.worker);
	if (!worker->WaitUntilLoaded(PrintOutput, problem)) {
		fProblems.push_back(AddonProblem(path, problem));
		return false;
	}
	fUnconfined = fUnconfined || !worker->Landlocked();
	int32 id = worker->Id();
	std::string displayName = worker->Name();
	auto workers = std::make_shared<AddonWorkers>(path, fLimits, std::move(worker));
	fEntries.push_back(AddonEntry{NULL, workers, candidate.name, id, displayName});
	return true;
}

const AddonEntry* AddonFolder::Match(const std::string& filter, std::string& error,
                                     std::vector<std::string>& choices) const
{
	int32 number = 0;
	int32 code = 0;
	bool isNumber = ParseNumericId(filter, number);
	bool isCode = ParseCodeId(filter, code);

	std::vector<const AddonEntry*> matches;
	for (const AddonEntry& entry : fEntries) {
		if ((isNumber && entry.id == number) || (isCode && entry.id == code) ||
		    EqualsIgnoringCase(entry.name, filter) || EqualsIgnoringCase(entry.fileName, filter))
			matches.push_back(&entry);
	}
	if (matches.size() == 1)
		return matches[0];

	if (matches.empty()) {
		std::vector<const AddonEntry*> all;
		for (const AddonEntry& entry : fEntries)
			all.push_back(&entry);
		error = "unknown filter \"" + filter + "\"; the add-ons in " + fPath + " are:";
		choices = ListChoices(all);
		return NULL;
	}
	error = "filter \"" + filter + "\" is ambiguous; it matches:";
	choices = ListChoices(matches);
	return NULL;
}

std::string FormatFilterId(int32 id)
{
	uint32 value = (uint32)id;
	std::string code;
	for (int shift = 24; shift >= 0; shift -= 8) {
		char c = (char)(value >> shift & 0xff);
		if (c < 0x20 || c > 0x7e)
			return std::to_string(id);
		code += c;
	}
	return "'" + code + "'";
}

std::string DescribeFilter(const AddonEntry& entry)
{
	return "\"" + entry.name + "\" (" + entry.fileName + ")";
}
