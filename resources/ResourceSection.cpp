#include "ResourceSection.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "ResourceText.h"

static const uint8 kMagic[4] = {'R', 'S', 'R', 'C'};
static const uint32 kFormatVersion = 1;
static const size_t kHeaderSize = 12;
static const size_t kEntrySize = 24;

namespace {

// A byte range of the section that belongs to one thing: the header and entries, or one
// entry's name or data.
struct Region {
	size_t offset;
	size_t size;
	size_t entry;
	const char* what;
};

} // namespace

static void AppendWord(std::vector<uint8>& bytes, uint32 value)
{
	for (int shift = 0; shift < 32; shift += 8)
		bytes.push_back((uint8)(value >> shift));
}

static void PutWord(std::vector<uint8>& bytes, size_t offset, uint32 value)
{
	for (int shift = 0; shift < 32; shift += 8)
		bytes[offset++] = (uint8)(value >> shift);
}

static uint32 ReadWord(const uint8* bytes)
{
	return (uint32)bytes[0] | (uint32)bytes[1] << 8 | (uint32)bytes[2] << 16 |
	       (uint32)bytes[3] << 24;
}

std::vector<uint8> FlattenResources(const std::vector<Resource>& resources)
{
	std::vector<uint8> bytes(kMagic, kMagic + sizeof(kMagic));
	AppendWord(bytes, kFormatVersion);
	AppendWord(bytes, (uint32)resources.size());
	size_t entryOffset = bytes.size();
	bytes.resize(bytes.size() + resources.size() * kEntrySize);
	for (const Resource& resource : resources) {
		PutWord(bytes, entryOffset, resource.type);
		PutWord(bytes, entryOffset + 4, (uint32)resource.id);
		PutWord(bytes, entryOffset + 8, (uint32)bytes.size());
		PutWord(bytes, entryOffset + 12, (uint32)resource.name.size());
		bytes.insert(bytes.end(), resource.name.begin(), resource.name.end());
		PutWord(bytes, entryOffset + 16, (uint32)bytes.size());
		PutWord(bytes, entryOffset + 20, (uint32)resource.data.size());
		bytes.insert(bytes.end(), resource.data.begin(), resource.data.end());
		entryOffset += kEntrySize;
	}
	return bytes;
}

static std::string EntryLabel(size_t entry)
{
	return "resource entry " + std::to_string(entry + 1);
}

static std::string RegionLabel(const Region& region)
{
	if (region.what == NULL)
		return "the header and entry table";
	return std::string("the ") + region.what + " of " + EntryLabel(region.entry);
}

// Checks the header; sets `count` to the number of entries that the section can hold.
static bool CheckHeader(const uint8* data, size_t size, size_t& count, std::string& error)
{
	if (size < kHeaderSize || memcmp(data, kMagic, sizeof(kMagic)) != 0) {
		error = "the resource section has no valid header";
		return false;
	}
	uint32 version = ReadWord(data + 4);
	if (version != kFormatVersion) {
		error = "the resource section has format version " + std::to_string(version) +
		        ", this reader knows version " + std::to_string(kFormatVersion);
		return false;
	}
	count = ReadWord(data + 8);
	if (count > (size - kHeaderSize) / kEntrySize) {
		error = "the resource section lists " + std::to_string(count) + " entries, more than its " +
		        std::to_string(size) + " bytes can hold";
		return false;
	}
	return true;
}

// Checks that every entry's name and data lie inside the section, apart from the header, the
// entries and each other. Every range is checked before any byte is copied, so that entries
// sharing their bytes cannot make the reader allocate more than the section holds.
static bool CheckRegions(const uint8* data, size_t size, size_t count, std::string& error)
{
	std::vector<Region> regions;
	regions.push_back(Region{0, kHeaderSize + count * kEntrySize, 0, NULL});
	for (size_t i = 0; i < count; i++) {
		const uint8* entry = data + kHeaderSize + i * kEntrySize;
		Region name{ReadWord(entry + 8), ReadWord(entry + 12), i, "name"};
		Region bytes{ReadWord(entry + 16), ReadWord(entry + 20), i, "data"};
		for (const Region& region : {name, bytes}) {
			if (region.offset > size || region.size > size - region.offset) {
				error = RegionLabel(region) + " (" + std::to_string(region.size) +
				        " bytes at offset " + std::to_string(region.offset) +
				        ") runs past the end of the " + std::to_string(size) +
				        "-byte resource section";
				return false;
			}
			if (region.size > 0)
				regions.push_back(region);
		}
	}
	std::stable_sort(regions.begin(), regions.end(),
	                 [](const Region& a, const Region& b) { return a.offset < b.offset; });
	for (size_t i = 1; i < regions.size(); i++) {
		if (regions[i].offset < regions[i - 1].offset + regions[i - 1].size) {
			error = RegionLabel(regions[i]) + " overlaps " + RegionLabel(regions[i - 1]);
			return false;
		}
	}
	return true;
}

// Copies the entries out of a section whose ranges CheckRegions() accepted, refusing
// unprintable names and a second resource of one type and id.
static bool ReadEntries(const uint8* data, size_t count, std::vector<Resource>& resources,
                        std::string& error)
{
	std::set<std::pair<uint32, int32>> seen;
	for (size_t i = 0; i < count; i++) {
		const uint8* entry = data + kHeaderSize + i * kEntrySize;
		Resource resource;
		resource.type = ReadWord(entry);
		resource.id = (int32)ReadWord(entry + 4);
		resource.name.assign((const char*)data + ReadWord(entry + 8), ReadWord(entry + 12));
		if (!std::all_of(resource.name.begin(), resource.name.end(),
		                 [](char c) { return c >= 0x20 && c < 0x7f; })) {
			error = EntryLabel(i) + " has a name with unprintable characters";
			return false;
		}
		if (!seen.insert(std::make_pair(resource.type, resource.id)).second) {
			error = EntryLabel(i) + " repeats type " + TypeCodeText(resource.type) + " and id " +
			        std::to_string(resource.id);
			return false;
		}
		const uint8* bytes = data + ReadWord(entry + 16);
		resource.data.assign(bytes, bytes + ReadWord(entry + 20));
		resources.push_back(std::move(resource));
	}
	return true;
}

bool UnflattenResources(const uint8* data, size_t size, std::vector<Resource>& resources,
                        std::string& error)
{
	resources.clear();
	size_t count = 0;
	if (!CheckHeader(data, size, count, error) || !CheckRegions(data, size, count, error))
		return false;
	if (!ReadEntries(data, count, resources, error)) {
		resources.clear();
		return false;
	}
	return true;
}
