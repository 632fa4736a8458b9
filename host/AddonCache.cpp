#include "AddonCache.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char kHeader[] = "quimbel-addon-cache 1";
// More than any folder holds; a cache that grows past it is cut to the latest entries.
const size_t kMaxEntries = 1024;
const size_t kMaxFileSize = 4 << 20;
// A display name fits the filter object's 64-byte field, NUL included.
const size_t kMaxNameLength = 63;

std::string Hex(const std::string& bytes)
{
	static const char kDigits[] = "0123456789abcdef";
	std::string hex;
	for (unsigned char byte : bytes) {
		hex += kDigits[byte >> 4];
		hex += kDigits[byte & 0xf];
	}
	return hex;
}

int HexDigit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return -1;
}

// The bytes the hexadecimal `hex` spells; false when it spells none, or an empty string.
bool Unhex(const std::string& hex, std::string& bytes)
{
	if (hex.empty() || hex.size() % 2 != 0)
		return false;
	bytes.clear();
	for (size_t i = 0; i < hex.size(); i += 2) {
		int high = HexDigit(hex[i]);
		int low = HexDigit(hex[i + 1]);
		if (high < 0 || low < 0)
			return false;
		bytes += (char)(high << 4 | low);
	}
	return true;
}

// The decimal number `text` spells, when it is one of type T: digits only, a minus sign first
// for signed types.
template <typename T> bool ParseNumber(const std::string& text, T& value)
{
	const char* end = text.data() + text.size();
	std::from_chars_result result = std::from_chars(text.data(), end, value);
	return result.ec == std::errc() && result.ptr == end;
}

bool ParseEntry(const std::string& line, CachedAddon& entry)
{
	std::vector<std::string> fields;
	size_t start = 0;
	for (;;) {
		size_t end = line.find(' ', start);
		fields.push_back(line.substr(start, end - start));
		if (end == std::string::npos)
			break;
		start = end + 1;
	}
	return fields.size() == 8 && Unhex(fields[0], entry.path) &&
	       entry.path.find('\0') == std::string::npos && ParseNumber(fields[1], entry.device) &&
	       ParseNumber(fields[2], entry.inode) && ParseNumber(fields[3], entry.size) &&
	       ParseNumber(fields[4], entry.modified) && ParseNumber(fields[5], entry.changed) &&
	       ParseNumber(fields[6], entry.id) && Unhex(fields[7], entry.name) &&
	       entry.name.size() <= kMaxNameLength && entry.name.find('\0') == std::string::npos;
}

int64 Nanoseconds(const struct timespec& time)
{
	return (int64)time.tv_sec * 1000000000 + time.tv_nsec;
}

bool SameFile(const CachedAddon& entry, const struct stat& status)
{
	return entry.device == (uint64)status.st_dev && entry.inode == (uint64)status.st_ino &&
	       entry.size == (uint64)status.st_size && entry.modified == Nanoseconds(status.st_mtim) &&
	       entry.changed == Nanoseconds(status.st_ctim);
}

// Makes the folders of `path` that are missing, for the owner only.
void MakeParentFolders(const std::string& path)
{
	for (size_t slash = path.find('/', 1); slash != std::string::npos;
	     slash = path.find('/', slash + 1))
		mkdir(path.substr(0, slash).c_str(), 0700);
}

} // namespace

std::string AddonCache::DefaultPath()
{
	const char* cache = getenv("XDG_CACHE_HOME");
	// A relative path is ignored, as the XDG base directory rules say.
	if (cache != NULL && cache[0] == '/')
		return std::string(cache) + "/quimbel/addons";
	const char* home = getenv("HOME");
	if (home != NULL && home[0] == '/')
		return std::string(home) + "/.cache/quimbel/addons";
	return std::string();
}

void AddonCache::Load(const std::string& path)
{
	fPath = path;
	fEntries.clear();
	fChanged = false;
	if (path.empty())
		return;
	std::ifstream file(path, std::ios::binary);
	if (!file)
		return;
	std::string text;
	char buffer[65536];
	while (file.read(buffer, sizeof(buffer)) || file.gcount() > 0) {
		text.append(buffer, (size_t)file.gcount());
		if (text.size() > kMaxFileSize)
			return;
	}
	Parse(text);
}

bool AddonCache::Parse(const std::string& text)
{
	fEntries.clear();
	std::string header = std::string(kHeader) + "\n";
	if (text.compare(0, header.size(), header) != 0)
		return false;
	std::vector<CachedAddon> entries;
	size_t start = header.size();
	while (start < text.size()) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos || entries.size() == kMaxEntries)
			return false;
		CachedAddon entry;
		if (!ParseEntry(text.substr(start, end - start), entry))
			return false;
		entries.push_back(entry);
		start = end + 1;
	}
	fEntries = std::move(entries);
	return true;
}

std::string AddonCache::Format() const
{
	std::ostringstream text;
	text << kHeader << "\n";
	for (const CachedAddon& entry : fEntries) {
		text << Hex(entry.path) << ' ' << entry.device << ' ' << entry.inode << ' ' << entry.size
		     << ' ' << entry.modified << ' ' << entry.changed << ' ' << entry.id << ' '
		     << Hex(entry.name) << "\n";
	}
	return text.str();
}

const CachedAddon* AddonCache::Find(const std::string& path, const struct stat& status) const
{
	for (const CachedAddon& entry : fEntries) {
		if (entry.path == path)
			return SameFile(entry, status) ? &entry : NULL;
	}
	return NULL;
}

void AddonCache::Remember(const std::string& path, const struct stat& status, int32 id,
                          const std::string& name)
{
	const CachedAddon* known = Find(path, status);
	if (known != NULL && known->id == id && known->name == name)
		return;
	Forget(path);
	if (path.empty() || path.find('\0') != std::string::npos || name.size() > kMaxNameLength)
		return;
	fEntries.push_back(CachedAddon{path, (uint64)status.st_dev, (uint64)status.st_ino,
	                               (uint64)status.st_size, Nanoseconds(status.st_mtim),
	                               Nanoseconds(status.st_ctim), id, name});
	if (fEntries.size() > kMaxEntries)
		fEntries.erase(fEntries.begin());
	fChanged = true;
}

void AddonCache::Forget(const std::string& path)
{
	auto found = std::find_if(fEntries.begin(), fEntries.end(),
	                          [&path](const CachedAddon& entry) { return entry.path == path; });
	if (found == fEntries.end())
		return;
	fEntries.erase(found);
	fChanged = true;
}

void AddonCache::Save()
{
	if (!fChanged || fPath.empty())
		return;
	fEntries.erase(std::remove_if(fEntries.begin(), fEntries.end(),
	                              [](const CachedAddon& entry) {
		                              struct stat status;
		                              return stat(entry.path.c_str(), &status) != 0;
	                              }),
	               fEntries.end());
	MakeParentFolders(fPath);
	std::string temporary = fPath + ".XXXXXX";
	int file = mkostemp(&temporary[0], O_CLOEXEC);
	if (file < 0)
		return;
	std::string text = Format();
	bool written = write(file, text.data(), text.size()) == (ssize_t)text.size();
	written = close(file) == 0 && written;
	if (!written || rename(temporary.c_str(), fPath.c_str()) != 0)
		unlink(temporary.c_str());
	else
		fChanged = false;
}
