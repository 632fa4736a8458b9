#include "BatchInputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ImageFile.h"

namespace fs = std::filesystem;

void BatchInputs::Add(const std::string& name)
{
	std::error_code failure;
	if (name == "-" || !fs::is_directory(name, failure)) {
		fInputs.push_back({name, ""});
		return;
	}
	if (!fRecursive) {
		fRefused.push_back(name + ": is a folder; give -r to work on the images in it");
		return;
	}
	_AddFolder(name);
}

bool BatchInputs::AddListed(FILE* list, const std::string& label, char separator,
                            std::string& error)
{
	char* line = NULL;
	size_t capacity = 0;
	ssize_t length;
	while ((length = getdelim(&line, &capacity, separator, list)) >= 0) {
		std::string name(line, length);
		if (!name.empty() && name.back() == separator)
			name.pop_back();
		if (!name.empty())
			Add(name);
	}
	free(line);
	if (ferror(list)) {
		error = label + ": cannot read the list of files: " + strerror(errno);
		return false;
	}
	return true;
}

// Walks the folder in the order of the names, so that a batch is the same from run to run.
// Folder links are not followed, which keeps a loop of links from walking forever; what is not
// a regular file after links (a FIFO, a device) is no image and would only block the batch.
void BatchInputs::_AddFolder(const std::string& root)
{
	std::error_code failure;
	std::vector<fs::path> files;
	fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied,
	                                      failure);
	for (; !failure && walk != fs::recursive_directory_iterator(); walk.increment(failure)) {
		std::error_code ignored;
		if (walk->is_regular_file(ignored))
			files.push_back(walk->path());
	}
	if (failure)
		fNotes.push_back(root + ": cannot read all of the folder: " + failure.message());
	std::sort(files.begin(), files.end());
	for (const fs::path& file : files) {
		std::string path = file.string();
		ImageKind kind = ImageKind::kUnknown;
		std::string error;
		if (ImageKindOfContent(path, kind, error) && kind == ImageKind::kUnknown) {
			fNotes.push_back(path + ": not an image, passed over");
			continue;
		}
		std::string folder = file.parent_path().lexically_relative(root).string();
		fInputs.push_back({path, folder == "." ? "" : folder});
	}
}
