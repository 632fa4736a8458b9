#include "GalleryPage.h"

#include <cstdio>
#include <cstring>

#include "AtomicFile.h"

namespace {

const char* kStyle = R"(:root { color-scheme: light dark; }
body { font-family: sans-serif; margin: 1.5em; background: #f4f4f4; color: #222; }
h1 { font-size: 1.3em; overflow-wrap: anywhere; }
.note { color: #555; max-width: 50em; }
.grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(18em, 1fr)); gap: 1em;
  align-items: start; }
figure { margin: 0; padding: 0.6em; background: #fff; border: 1px solid #ccc; min-width: 0; }
figure.source { border-color: #36c; }
.picture img, .none { display: block; width: 100%; height: auto;
  background: repeating-conic-gradient(#ddd 0 25%, #fff 0 50%) 0 0 / 16px 16px; }
.picture img.small { image-rendering: pixelated; }
.none { height: 10em; display: flex; align-items: center; justify-content: center;
  background: #fee; color: #900; font-weight: bold; }
figcaption { margin-top: 0.5em; font-size: 0.9em; line-height: 1.4; overflow-wrap: anywhere; }
.title { font-weight: bold; font-size: 1.05em; }
img.icon { display: inline; width: 32px; height: 32px; vertical-align: middle;
  margin-right: 0.4em; }
.detail { color: #555; }
.error { color: #b00; }
a { color: #0645ad; }
pre { background: #222; color: #eee; padding: 0.4em; max-height: 12em; overflow: auto;
  white-space: pre-wrap; overflow-wrap: anywhere; }
@media (prefers-color-scheme: dark) {
  body { background: #121212; color: #ddd; }
  figure { background: #1e1e1e; border-color: #444; }
  figure.source { border-color: #6af; }
  .note, .detail { color: #aaa; }
  .error { color: #f88; }
  a { color: #8ab4f8; }
  .none { background: #3a1d1d; color: #f99; }
  .picture img { background: repeating-conic-gradient(#555 0 25%, #333 0 50%) 0 0 / 16px 16px; }
  pre { background: #000; color: #ddd; border: 1px solid #333; }
}
@media (max-width: 30em) {
  body { margin: 0.5em; }
  .grid { grid-template-columns: 1fr; }
}
)";

std::string Escape(const std::string& text)
{
	std::string escaped;
	for (char c : text) {
		switch (c) {
		case '&':
			escaped += "&amp;";
			break;
		case '<':
			escaped += "&lt;";
			break;
		case '>':
			escaped += "&gt;";
			break;
		case '"':
			escaped += "&quot;";
			break;
		case '\'':
			escaped += "&#39;";
			break;
		default:
			escaped += c;
		}
	}
	return escaped;
}

// An image file name as part of a URL: every byte outside the unreserved set is escaped.
std::string EscapeUrl(const std::string& text)
{
	static const char* kHex = "0123456789ABCDEF";
	std::string escaped;
	for (unsigned char c : text) {
		if (isalnum(c) || strchr("-._~", c) != NULL) {
			escaped += (char)c;
			continue;
		}
		escaped += '%';
		escaped += kHex[c >> 4];
		escaped += kHex[c & 15];
	}
	return escaped;
}

std::string FormatSize(int64 bytes)
{
	char text[64];
	if (bytes >= 1024 * 1024)
		snprintf(text, sizeof(text), "%.1f MB", bytes / (1024.0 * 1024.0));
	else
		snprintf(text, sizeof(text), "%.1f KB", bytes / 1024.0);
	return text;
}

// A picture drawn at most this many pixels wide is enlarged on the page: its pixels are shown as
// squares rather than blurred.
const int32 kSmallPicture = 256;

// How long a filter took, to a few significant digits.
std::string FormatTime(double seconds)
{
	char text[64];
	double milliseconds = seconds * 1000.0;
	if (milliseconds >= 1000)
		snprintf(text, sizeof(text), "%.2f s", seconds);
	else if (milliseconds >= 10)
		snprintf(text, sizeof(text), "%.1f ms", milliseconds);
	else
		snprintf(text, sizeof(text), "%.3f ms", milliseconds);
	return text;
}

std::string Picture(const GalleryItem& item)
{
	if (item.image.empty())
		return "<div class=\"none\">no image</div>\n";
	const std::string& shown = item.preview.empty() ? item.image : item.preview;
	int32 width = item.preview.empty() ? item.width : item.previewWidth;
	int32 height = item.preview.empty() ? item.height : item.previewHeight;
	std::string html = "<a class=\"picture\" href=\"" + EscapeUrl(item.image) + "\"><img";
	if (width <= kSmallPicture)
		html += " class=\"small\"";
	html += " src=\"" + EscapeUrl(shown) + "\" width=\"" + std::to_string(width) + "\" height=\"" +
	        std::to_string(height) + "\" alt=\"" + Escape(item.title) +
	        "\" loading=\"lazy\"></a>\n";
	return html;
}

// The image's size, and where the page shows a smaller copy, the link to the full image.
std::string SizeLine(const GalleryItem& item)
{
	char line[128];
	snprintf(line, sizeof(line), "%d &times; %d pixels", (int)item.width, (int)item.height);
	std::string html = "<div>" + std::string(line);
	if (item.image.empty())
		return html + "</div>\n";
	if (item.preview.empty() || item.preview == item.image)
		return html + ", " + FormatSize(item.fileBytes) + "</div>\n";
	return html + ", <a href=\"" + EscapeUrl(item.image) + "\">full image</a> " +
	       FormatSize(item.fileBytes) + "</div>\n";
}

std::string Figure(const GalleryItem& item, bool isSource)
{
	std::string html = isSource ? "<figure class=\"source\">\n" : "<figure>\n";
	html += Picture(item);
	html += "<figcaption><div class=\"title\">";
	if (!item.icon.empty())
		html += "<img class=\"icon\" src=\"" + EscapeUrl(item.icon) + "\" alt=\"\">";
	html += Escape(item.title) + "</div>\n";
	html += "<div class=\"detail\">" + Escape(item.detail) + "</div>\n";
	if (item.width > 0)
		html += SizeLine(item);
	if (item.timedRuns > 0) {
		html += "<div>filter: " + FormatTime(item.seconds) + ", median of " +
		        std::to_string(item.timedRuns) + " runs</div>\n";
	}
	if (!item.error.empty())
		html += "<div class=\"error\">" + Escape(item.error) + "</div>\n";
	if (!item.diagnostics.empty())
		html += "<div>printed:</div><pre>" + Escape(item.diagnostics) + "</pre>\n";
	html += "</figcaption>\n</figure>\n";
	return html;
}

std::string Page(const GalleryItem& source, const std::vector<GalleryItem>& results)
{
	std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
	html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
	html += "<meta name=\"color-scheme\" content=\"light dark\">\n";
	html += "<title>quimbel gallery: " + Escape(source.title) + "</title>\n";
	html += "<style>\n" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
	html += "<h1>" + Escape(source.title) + " through " + std::to_string(results.size()) +
	        " filters</h1>\n";
	html += "<p class=\"note\">Each picture links to its full image. A filter's time is the "
	        "median of several runs after a first one that warms it up, and counts the filter "
	        "alone: reading, handing over and writing the images are left out.</p>\n";
	html += "<div class=\"grid\">\n";
	html += Figure(source, true);
	for (const GalleryItem& item : results)
		html += Figure(item, false);
	html += "</div>\n</body>\n</html>\n";
	return html;
}

} // namespace

bool WriteGalleryPage(const std::string& path, const GalleryItem& source,
                      const std::vector<GalleryItem>& results, Existing existing,
                      std::string& error)
{
	return WriteFileAtomically(path, Page(source, results), existing, error);
}
