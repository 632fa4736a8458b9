#include "ExportedSymbols.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

namespace {

struct ElfEnd {
	void operator()(Elf* elf) { elf_end(elf); }
};
typedef std::unique_ptr<Elf, ElfEnd> ElfPtr;

// Reads the names of `section`, a dynamic symbol table, into `names`.
bool ReadTable(Elf* elf, Elf_Scn* section, const GElf_Shdr& header, std::vector<std::string>& names,
               std::string& error)
{
	Elf_Data* data = elf_getdata(section, NULL);
	if (data == NULL || header.sh_entsize == 0) {
		error = std::string("damaged dynamic symbol table: ") + elf_errmsg(-1);
		return false;
	}
	size_t count = data->d_size / header.sh_entsize;
	for (size_t i = 0; i < count; i++) {
		GElf_Sym symbol;
		if (gelf_getsym(data, (int)i, &symbol) == NULL) {
			error = std::string("damaged dynamic symbol table: ") + elf_errmsg(-1);
			return false;
		}
		int binding = GELF_ST_BIND(symbol.st_info);
		int visibility = GELF_ST_VISIBILITY(symbol.st_other);
		if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK) ||
		    (visibility != STV_DEFAULT && visibility != STV_PROTECTED))
			continue;
		const char* name = elf_strptr(elf, header.sh_link, symbol.st_name);
		if (name == NULL) {
			error = std::string("damaged dynamic symbol names: ") + elf_errmsg(-1);
			return false;
		}
		names.push_back(name);
	}
	return true;
}

} // namespace

bool ReadExportedSymbols(const std::string& path, std::vector<std::string>& names,
                         std::string& error)
{
	names.clear();
	if (elf_version(EV_CURRENT) == EV_NONE) {
		error = std::string("libelf is unusable: ") + elf_errmsg(-1);
		return false;
	}
	int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (descriptor < 0) {
		error = std::string("cannot read: ") + strerror(errno);
		return false;
	}
	ElfPtr elf(elf_begin(descriptor, ELF_C_READ, NULL));
	bool read = false;
	if (elf == nullptr || elf_kind(elf.get()) != ELF_K_ELF) {
		error = "not an ELF file";
	} else {
		Elf_Scn* section = NULL;
		bool found = false;
		read = true;
		while (read && (section = elf_nextscn(elf.get(), section)) != NULL) {
			GElf_Shdr header;
			if (gelf_getshdr(section, &header) == NULL) {
				error = std::string("damaged section header: ") + elf_errmsg(-1);
				read = false;
			} else if (header.sh_type == SHT_DYNSYM) {
				found = true;
				read = ReadTable(elf.get(), section, header, names, error);
			}
		}
		if (read && !found) {
			error = "no dynamic symbol table";
			read = false;
		}
	}
	elf.reset();
	close(descriptor);
	return read;
}

bool IsPlainName(const std::string& name)
{
	return name.rfind("_Z", 0) != 0;
}
