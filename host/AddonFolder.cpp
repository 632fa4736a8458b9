#include "AddonFolder.h"

#include "ClosestNames.h"
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

std::string AddonFolder::UserPath()
{
	const char* home = getenv("HOME");
	if (home == NULL || home[0] == '\0')
		return std::string();
	return std::string(home) + "/.local/lib/quimbel/addons";
}

std::vector<SearchFolder> AddonFolder::SearchPath(const std::string& chosen,
                                                  const std::string& listed)
{
	std::vector<SearchFolder> folders;
	if (!chosen.empty())
		folders.push_back({chosen, true});
	size_t start = 0;
	while (start <= listed.size()) {
		size_t end = listed.find(':', start);
		if (end == std::string::npos)
			end = listed.size();
		// As in PATH, a listed folder that does not exist is passed over.
		if (end > start)
			folders.push_back({listed.substr(start, end - start), false});
		start = end + 1;
	}
	std::string user = UserPath();
	if (!user.empty())
		folders.push_back({user, false});
	folders.push_back({DefaultPath(), false});

	// A folder named twice is read once, where it first comes.
	std::vector<SearchFolder> unique;
	for (const SearchFolder& folder : folders) {
		std::error_code ignored;
		auto same = [&folder, &ignored](const SearchFolder& earlier) {
			return earlier.path == folder.path ||
			       std::filesystem::equivalent(earlier.path, folder.path, ignored);
		};
		if (std::none_of(unique.begin(), unique.end(), same))
			unique.push_back(folder);
	}
	return unique;
}

bool AddonFolder::Scan(const std::string& path, std::string& error)
{
	return Scan(std::vector<SearchFolder>{{path.empty() ? DefaultPath() : path, true}}, error);
}

bool AddonFolder::Scan(const std::vector<SearchFolder>& folders, std::string& error)
{
	fFolders.clear();
	fEntries.clear();
	fProblems.clear();
	fShadowed.clear();
	for (const SearchFolder& folder : folders) {
		if (!_ScanFolder(folder, error))
			return false;
	}
	fCache.Save();
	if (fEntries.empty()) {
		std::string searched;
		for (const SearchFolder& folder : folders)
			searched += (searched.empty() ? "" : ", ") + folder.path;
		error = (fFolders.size() == 1 ? fFolders[0] : searched) + ": no filter add-ons found";
		return false;
	}
	return true;
}

bool AddonFolder::_ScanFolder(const SearchFolder& searched, std::string& error)
{
	const std::string& path = searched.path;
	DIR* folder = opendir(path.c_str());
	if (folder == NULL) {
		if (!searched.named && errno == ENOENT)
			return true;
		error = path + ": cannot read the add-on folder: " + strerror(errno);
		return false;
	}
	fFolders.push_back(path);
	fFolderStart = fEntries.size();

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
		Candidate candidate{name, path + "/" + name, "", {}, NULL, false, {}};
		if (stat(candidate.path.c_str(), &candidate.status) != 0 ||
		    !S_ISREG(candidate.status.st_mode))
			continue;
		if (IsLoadableObject(candidate.path, candidate.problem) && fWorkers) {
			const CachedAddon* cached =
			    fReuseCache ? fCache.Find(candidate.path, candidate.status) : NULL;
			candidate.fromCache = cached != NULL;
			if (cached != NULL)
				candidate.cached = *cached;
			else
				candidate.worker = AddonWorker::Launch(candidate.path, fLimits, candidate.problem);
		}
		if (!candidate.problem.empty())
			candidate.problem = AddonProblem(candidate.path, candidate.problem);
		candidates.push_back(std::move(candidate));
	}
	for (Candidate& candidate : candidates) {
		if (!candidate.problem.empty()) {
			fCache.Forget(candidate.path);
			fProblems.push_back(candidate.problem);
		} else if (candidate.fromCache) {
			const CachedAddon& cached = candidate.cached;
			auto workers = std::make_shared<AddonWorkers>(candidate.path, fLimits, nullptr,
			                                              cached.id, cached.name);
			_Add(AddonEntry{NULL, workers, candidate.name, cached.id, cached.name, candidate.path});
		} else if (fWorkers) {
			_LoadInWorker(candidate);
		} else {
			_LoadInProcess(candidate.path, candidate.name);
		}
	}
	return true;
}

void AddonFolder::UseWorkers(const WorkerLimits& limits)
{
	fWorkers = true;
	fLimits = limits;
}

void AddonFolder::UseCache(const std::string& path, bool reuse)
{
	fCache.Load(path);
	fReuseCache = reuse;
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
	_Add(AddonEntry{std::move(filter), NULL, name, id, displayName, path});
	return true;
}

bool AddonFolder::_LoadInWorker(Candidate& candidate)
{
	const std::string& path = candidate.path;
	std::string problem;
	// Whatever the add-on prints while it is loaded goes out unchanged.
	std::unique_ptr<AddonWorker> worker = std::move(candidate.worker);
	if (!worker->WaitUntilLoaded(PrintOutput, problem)) {
		fCache.Forget(path);
		fProblems.push_back(AddonProblem(path, problem));
		return false;
	}
	fUnconfined = fUnconfined || !worker->Landlocked();
	int32 id = worker->Id();
	std::string displayName = worker->Name();
	fCache.Remember(path, candidate.status, id, displayName);
	auto workers =
	    std::make_shared<AddonWorkers>(path, fLimits, std::move(worker), id, displayName);
	_Add(AddonEntry{NULL, workers, candidate.name, id, displayName, path});
	return true;
}

void AddonFolder::_Add(AddonEntry entry)
{
	for (size_t i = 0; i < fFolderStart; i++) {
		const AddonEntry& earlier = fEntries[i];
		if (earlier.id != entry.id && !EqualsIgnoringCase(earlier.name, entry.name))
			continue;
		fShadowed.push_back(entry.path + ": \"" + entry.name + "\" (id " +
		                    FormatFilterId(entry.id) + ") is shadowed by " + earlier.path);
		return;
	}
	fEntries.push_back(std::move(entry));
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
		std::vector<std::string> names;
		for (const AddonEntry& entry : fEntries) {
			all.push_back(&entry);
			names.push_back(entry.name);
			names.push_back(entry.fileName);
		}
		std::string suggestion = DidYouMean(ClosestNames(filter, names));
		error = "unknown filter \"" + filter + "\"" +
		        (suggestion.empty() ? "" : " (" + suggestion + ")") + "; the add-ons in " +
		        (fFolders.size() == 1 ? fFolders[0] : "the folders searched") + " are:";
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
