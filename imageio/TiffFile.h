// A TIFF file in memory as libtiff reads and writes it, with libtiff's messages kept apart for
// each file, so that nothing is printed and files on several threads do not mix theirs.
#ifndef TIFF_FILE_H
#define TIFF_FILE_H

#include <string>
#include <vector>

#include <SupportDefs.h>

// libtiff's own uint8, uint16... would clash with the platform's types of the same names.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

// The bytes libtiff works on: a file read, which it maps and decodes in place, or the one it
// writes, which grows as it goes. libtiff goes back to earlier places, which an output stream
// may not allow (a pipe), so a file is made in memory and written out whole.
struct TiffMemory {
	// The file read; NULL when writing.
	const uint8* data = NULL;
	toff_t size = 0;
	// The file written.
	std::vector<uint8> bytes;
	toff_t position = 0;
};

class TiffFile {
public:
	// Opens `memory` with libtiff's `mode` ("r", or "w" and its options); libtiff may take at
	// most `allocationLimit` bytes in one allocation when it is not 0.
	TiffFile(TiffMemory* memory, const char* mode, tmsize_t allocationLimit = 0);
	~TiffFile();

	// NULL when libtiff could not open the file; Failure() says why.
	TIFF* Get() const { return fTiff; }

	// Forgets what libtiff has said so far, such as what it got over while opening the file.
	void ForgetErrors() { fError[0] = '\0'; }

	// "<what> (<libtiff's first error, or otherwise>)".
	std::string Failure(const char* what, const std::string& otherwise) const;

private:
	TIFF* fTiff;
	// The first error libtiff gave; its warnings concern what it has already worked around.
	char fError[256];
};

#endif // TIFF_FILE_H
