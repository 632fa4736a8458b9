// Loading filter add-ons: a shared library file that exports instantiate_filter().
#ifndef ADDON_LOADER_H
#define ADDON_LOADER_H

#include <memory>
#include <string>

#include <ImageFilter.h>

class Addon;

// Deletes a filter object through its virtual destructor, then lets go of the add-on that made
// it: the library stays loaded while any object it made lives.
struct FilterDeleter {
	std::shared_ptr<const Addon> addon;
	void operator()(ImageFilter* filter)
	{
		delete filter;
		addon.reset();
	}
};

typedef std::unique_ptr<ImageFilter, FilterDeleter> FilterPtr;

class Addon : public std::enable_shared_from_this<Addon> {
public:
	// Loads the add-on file at `path`. Returns NULL and sets `error` to a message naming the file
	// when it is not a loadable shared library or exports no instantiate_filter.
	static std::shared_ptr<Addon> Load(const std::string& path, std::string& error);
	~Addon();

	const std::string& Path() const { return fPath; }
	// The file name without its folder.
	std::string FileName() const;

	// A new filter object; empty, with `error` set, when the add-on could not make one.
	FilterPtr Instantiate(std::string& error) const;

private:
	Addon(const std::string& path, void* handle, instantiate_filter_func instantiate);
	Addon(const Addon&) = delete;
	Addon& operator=(const Addon&) = delete;

	std::string fPath;
	void* fHandle;
	instantiate_filter_func fInstantiate;
};

// Loads the add-on file at `path` and makes one filter object from it; the add-on stays loaded
// while the object lives. Empty, with `error` naming the file, when the file is no loadable
// add-on or its instantiate_filter makes no object. Every part of the program that needs a
// filter from a file comes through here.
FilterPtr LoadFilter(const std::string& path, std::string& error);

// The filter's display name. The add-on may leave the field without its terminating NUL, so at
// most the whole field is read.
std::string FilterName(const ImageFilter& filter);

#endif // ADDON_LOADER_H
