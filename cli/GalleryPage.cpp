#include "GalleryPage.h"

#include <cstdio>
#include <cstring>

#include "AtomicFile.h"

namespace {

const char* kStyle = R"(body { font-family: sans-serif; margin: 1.5em; background: #f4f4f4; }
h1 { font-size: 1.3em; }
.grid { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
figure { margin: 0; padding: 0.6em; background: #fff; border: 1px solid #ccc; width: 20em; }
figure.source { border-color: #36c; }
figure img, .none { display: block; width: 100%; height: auto; image-rendering: pixelated;
  background: repeating-conic-gradient(#ddd 0 25%, #fff 0 50%) 0 0 / 16px 16px; }
.none { height: 10em; display: flex; align-items: center; justify-content: center;
  background: #fee; color: #900; font-weight: bold; }
figcaption { margin-top: 0.5em; font-size: 0.9em; line-height: 1.4; }
.title { font-weight: bold; font-size: 1.05em; }
figure img.icon { display: inline; width: 32px; height: 32px; vertical-align: middle;
  margin-right: 0.4em; background: none; }
.detail { color: #555; }
.error { color: #900; }
pre { background: #222; color: #eee; padding: 0.4em; max-height: 12em; overflow: auto; }
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

std::string Figure(const GalleryItem& item, bool isSource)
{
	std::string html = isSource ? "<figure class=\"source\">\n" : "<figure>\n";
	if (item.image.empty()) {
		html += "<div class=\"none\">no image</div>\n";
	} else {
		html += "<a href=\"" + EscapeUrl(item.image) + "\"><img src=\"" + EscapeUrl(item.image) +
		        "\" alt=\"" + Escape(item.title) + "\" loading=\"lazy\"></a>\n";
	}
	html += "<figcaption><div class=\"title\">";
	if (!item.icon.empty())
		html += "<img class=\"icon\" src=\"" + EscapeUrl(item.icon) + "\" alt=\"\">";
	html += Escape(item.title) + "</div>\n";
	html += "<div class=\"detail\">" + Escape(item.detail) + "</div>\n";
	if (item.width > 0) {
		char line[128];
		snprintf(line, sizeof(line), "%d &times; %d pixels", (int)item.width, (int)item.height);
		html += "<div>" + std::string(line);
		if (!item.image.empty())
			html += ", " + FormatSize(item.fileBytes);
		html += "</div>\n";
	}
	if (item.seconds >= 0) {
		char line[64];
		snprintf(line, sizeof(line), "%.2f ms", item.seconds * 1000.0);
		html += "<div>filter took " + std::string(line) + "</div>\n";
	}
	if (!item.error.empty())
		html += "<div class=\"error\">" + Escape(item.error) + "</div>\n";
	if (!item.diagnostics.empty())
		html += "<div>it printed:</div><pre>" + Escape(item.diagnostics) + "</pre>\n";
	html += "</figcaption>\n</figure>\n";
	return html;
}

std::string Page(const GalleryItem& source, const std::vector<GalleryItem>& results)
{
	std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
	html += "<title>quimbel gallery: " + Escape(source.title) + "</title>\n";
	html += "<style>\n" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
	html += "<h1>" + Escape(source.title) + " through " + std::to_string(results.size()) +
	        " filters</h1>\n<div class=\"grid\">\n";
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
