#include "ResourceReader.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ResourceSection.h"

namespace {

struct ElfCloser {
	void operator()(Elf* elf) { elf_end(elf); }
};

typedef std::unique_ptr<Elf, ElfCloser> ElfPtr;

struct FileCloser {
	void operator()(int* fd) { close(*fd); }
};

} // namespace

// Whether `size` bytes at `offset` lie inside a file of `fileSize` bytes.
static bool InsideFile(uint64 offset, uint64 size, size_t fileSize)
{
	return offset <= fileSize && size <= fileSize - offset;
}

static std::string ByteRangeText(uint64 size, uint64 offset, size_t fileSize)
{
	return std::to_string(size) + " bytes at offset " + std::to_string(offset) +
	       ", but the file has only " + std::to_string(fileSize) + " bytes";
}

// Checks the section header table against the file's size before libelf reads it.
static bool CheckSectionTable(Elf* elf, size_t fileSize, const std::string& label,
                              std::string& error)
{
	GElf_Ehdr header;
	if (gelf_getehdr(elf, &header) == NULL) {
		error = label + ": damaged ELF header: " + elf_errmsg(-1);
		return false;
	}
	// libelf hides a table that runs past the end of the file instead of reporting it, so the
	// header's own figures are checked first. With more sections than e_shnum can count, the
	// number is in the first section header, which then at least must be present.
	size_t claimed = header.e_shnum;
	if (claimed == 0 && header.e_shoff != 0)
		claimed = 1;
	if (claimed == 0)
		return true;
	size_t entrySize = gelf_fsize(elf, ELF_T_SHDR, 1, EV_CURRENT);
	if (header.e_shentsize != entrySize) {
		error = label + ": damaged ELF header: section header entries of " +
		        std::to_string(header.e_shentsize) + " bytes instead of " +
		        std::to_string(entrySize);
		return false;
	}
	if (!InsideFile(header.e_shoff, (uint64)claimed * entrySize, fileSize)) {
		error = label + ": truncated ELF file: the section header table claims " +
		        ByteRangeText((uint64)claimed * entrySize, header.e_shoff, fileSize);
		return false;
	}
	size_t count;
	if (elf_getshdrnum(elf, &count) != 0 || count < claimed || count > fileSize / entrySize ||
	    !InsideFile(header.e_shoff, (uint64)count * entrySize, fileSize)) {
		error = label + ": damaged section header table";
		return false;
	}
	return true;
}

// Checks that the section's contents lie inside the file.
static bool CheckSectionRange(const GElf_Shdr& header, size_t index, const char* name,
                              size_t fileSize, const std::string& label, std::string& error)
{
	if (header.sh_type == SHT_NOBITS || InsideFile(header.sh_offset, header.sh_size, fileSize))
		return true;
	error = label + ": section " + std::to_string(index);
	if (name != NULL)
		error += std::string(" (") + name + ")";
	error += " claims " + ByteRangeText(header.sh_size, header.sh_offset, fileSize);
	return false;
}

// Finds the one resource section; sets `error` and returns NULL when there is none, more than
// one, or any section lies outside the file.
static Elf_Scn* FindResourceSection(Elf* elf, size_t fileSize, const std::string& label,
                                    std::string& error)
{
	size_t namesIndex;
	if (elf_getshdrstrndx(elf, &namesIndex) != 0) {
		error = label + ": damaged section header table: " + elf_errmsg(-1);
		return NULL;
	}
	Elf_Scn* names = elf_getscn(elf, namesIndex);
	GElf_Shdr namesHeader;
	if (names == NULL || gelf_getshdr(names, &namesHeader) == NULL) {
		error = label + ": damaged section header table: no section names";
		return NULL;
	}
	if (!CheckSectionRange(namesHeader, namesIndex, NULL, fileSize, label, error))
		return NULL;

	Elf_Scn* found = NULL;
	Elf_Scn* section = NULL;
	while ((section = elf_nextscn(elf, section)) != NULL) {
		size_t index = elf_ndxscn(section);
		GElf_Shdr header;
		if (gelf_getshdr(section, &header) == NULL) {
			error = label + ": damaged header of section " + std::to_string(index) + ": " +
			        elf_errmsg(-1);
			return NULL;
		}
		const char* name = elf_strptr(elf, namesIndex, header.sh_name);
		if (!CheckSectionRange(header, index, name, fileSize, label, error))
			return NULL;
		if (name == NULL || strcmp(name, kResourceSectionName) != 0)
			continue;
		if (found != NULL) {
			error = label + ": more than one " + kResourceSectionName + " section";
			return NULL;
		}
		if (header.sh_type != SHT_PROGBITS) {
			error = label + ": the " + kResourceSectionName + " section holds no data";
			return NULL;
		}
		found = section;
	}
	if (found == NULL)
		error = label + ": no resources (the file has no " + kResourceSectionName + " section)";
	return found;
}

bool ReadResourcesFromImage(std::vector<char>& image, const std::string& label,
                            std::vector<Resource>& resources, std::string& error)
{
	resources.clear();
	if (elf_version(EV_CURRENT) == EV_NONE) {
		error = label + ": libelf is unusable: " + elf_errmsg(-1);
		return false;
	}
	ElfPtr elf(elf_memory(image.data(), image.size()));
	if (elf == nullptr || elf_kind(elf.get()) != ELF_K_ELF) {
		bool hasMagic = image.size() >= SELFMAG && memcmp(image.data(), ELFMAG, SELFMAG) == 0;
		error = label + (hasMagic ? ": truncated or damaged ELF header" : ": not an ELF file");
		return false;
	}
	if (!CheckSectionTable(elf.get(), image.size(), label, error))
		return false;
	Elf_Scn* section = FindResourceSection(elf.get(), image.size(), label, error);
	if (section == NULL)
		return false;
	Elf_Data* data = elf_rawdata(section, NULL);
	if (data == NULL) {
		error = label + ": unreadable " + kResourceSectionName + " section: " + elf_errmsg(-1);
		return false;
	}
	const uint8* bytes = static_cast<const uint8*>(data->d_buf);
	if (!UnflattenResources(bytes, data->d_buf == NULL ? 0 : data->d_size, resources, error)) {
		error = label + ": " + error;
		return false;
	}
	return true;
}

bool ReadResources(const std::string& path, std::vector<Resource>& resources, std::string& error)
{
	resources.clear();
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		error = path + ": cannot open: " + strerror(errno);
		return false;
	}
	std::unique_ptr<int, FileCloser> closer(&fd);
	struct stat status;
	if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
		error = path + ": not a regular file";
		return false;
	}
	if ((uint64)status.st_size > kMaxResourceFileSize) {
		error =
		    path + ": too large for an add-on file (" + std::to_string(status.st_size) + " bytes)";
		return false;
	}
	std::vector<char> image((size_t)status.st_size);
	size_t done = 0;
	while (done < image.size()) {
		ssize_t got = read(fd, image.data() + done, image.size() - done);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			error = path + ": cannot read: " +
			        (got < 0 ? strerror(errno) : "the file shrank while it was read");
			return false;
		}
		done += (size_t)got;
	}
	return ReadResourcesFromImage(image, path, resources, error);
}
