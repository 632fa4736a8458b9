// The symbols an add-on file exports, read from its dynamic symbol table without loading it.
#ifndef EXPORTED_SYMBOLS_H
#define EXPORTED_SYMBOLS_H

#include <string>
#include <vector>

// Reads the names of the symbols the ELF file at `path` defines and exports to other objects:
// global or weak, of default or protected visibility. The file is untrusted: returns false and
// sets `error`, without the path, when it cannot be read or its symbol table is damaged.
bool ReadExportedSymbols(const std::string& path, std::vector<std::string>& names,
                         std::string& error);

// Whether `name` is a plain C name, not one a C++ compiler mangled.
bool IsPlainName(const std::string& name);

#endif // EXPORTED_SYMBOLS_H
