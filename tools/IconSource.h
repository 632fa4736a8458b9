// Reading icon sources: square pixel pictures written as text, one character a pixel.
//
//   # comment lines and blank lines are ignored
//   colour K #000000        a character and the colour it stands for; the colour must be in
//   colour . transparent    the system colour map, or be transparent
//   icon 32                 then 32 rows of 32 characters
//   icon 16                 then 16 rows of 16 characters
#ifndef ICON_SOURCE_H
#define ICON_SOURCE_H

#include <map>
#include <string>
#include <vector>

#include <SupportDefs.h>

// Every icon of the source by its side, each one byte a pixel, row by row, holding system
// colour map indices.
typedef std::map<int32, std::vector<uint8>> IconSet;

// Reads the icon source at `path`. Returns false and sets `error`, as "path:line: problem",
// when the file cannot be read or is not a well-formed icon source.
bool ReadIconSource(const std::string& path, IconSet& icons, std::string& error);

#endif // ICON_SOURCE_H
