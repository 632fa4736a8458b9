// The index.html of a gallery: the source image and every filter's result side by side.
#ifndef GALLERY_PAGE_H
#define GALLERY_PAGE_H

#include <string>
#include <vector>

#include <SupportDefs.h>

#include "AtomicFile.h"

// One picture of the page: the source or one filter's result.
struct GalleryItem {
	std::string title;
	// A second line under the title: the add-on's file name and id, or the source's path.
	std::string detail;
	// The add-on's icon file, shown beside the title, relative to the page; empty when there is
	// none.
	std::string icon;
	// The image file, relative to the page; empty when there is none.
	std::string image;
	int32 width = 0;
	int32 height = 0;
	int64 fileBytes = 0;
	// What the page shows, linked to the image: a smaller copy, or the image file itself.
	std::string preview;
	int32 previewWidth = 0;
	int32 previewHeight = 0;
	// The median time of the filter over `timedRuns` runs, in seconds; none without runs.
	double seconds = 0;
	int timedRuns = 0;
	// Why there is no image.
	std::string error;
	// What the add-on printed on standard output while it ran.
	std::string diagnostics;
};

// Writes the page to `path`; it appears complete or not at all. Returns false and sets `error`,
// naming the path, on failure, leaving nothing behind.
bool WriteGalleryPage(const std::string& path, const GalleryItem& source,
                      const std::vector<GalleryItem>& results, Existing existing,
                      std::string& error);

#endif // GALLERY_PAGE_H
