#include "AddonLoader.h"

#include <cstring>

#include <dlfcn.h>

std::shared_ptr<Addon> Addon::Load(const std::string& path, std::string& error)
{
	dlerror();
	void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (handle == NULL) {
		const char* reason = dlerror();
		error = path + ": not a loadable add-on: " + (reason != NULL ? reason : "unknown error");
		return NULL;
	}

	dlerror();
	void* symbol = dlsym(handle, "instantiate_filter");
	if (symbol == NULL) {
		error = path + ": not a filter add-on: it exports no instantiate_filter";
		dlclose(handle);
		return NULL;
	}

	instantiate_filter_func instantiate = reinterpret_cast<instantiate_filter_func>(symbol);
	try {
		return std::shared_ptr<Addon>(new Addon(path, handle, instantiate));
	} catch (const std::bad_alloc&) {
		dlclose(handle);
		error = path + ": out of memory";
		return NULL;
	}
}

Addon::Addon(const std::string& path, void* handle, instantiate_filter_func instantiate)
    : fPath(path), fHandle(handle), fInstantiate(instantiate)
{
}

Addon::~Addon()
{
	dlclose(fHandle);
}

std::string Addon::FileName() const
{
	size_t slash = fPath.find_last_of('/');
	return slash == std::string::npos ? fPath : fPath.substr(slash + 1);
}

FilterPtr Addon::Instantiate(std::string& error) const
{
	ImageFilter* filter = NULL;
	try {
		filter = fInstantiate();
	} catch (...) {
		error = fPath + ": instantiate_filter raised an exception";
		return FilterPtr(NULL, FilterDeleter{});
	}
	if (filter == NULL) {
		error = fPath + ": instantiate_filter made no filter object";
		return FilterPtr(NULL, FilterDeleter{});
	}
	return FilterPtr(filter, FilterDeleter{shared_from_this()});
}

FilterPtr LoadFilter(const std::string& path, std::string& error)
{
	std::shared_ptr<Addon> addon = Addon::Load(path, error);
	if (addon == NULL)
		return FilterPtr(NULL, FilterDeleter{});
	return addon->Instantiate(error);
}

std::string FilterName(const ImageFilter& filter)
{
	return std::string(filter.name, strnlen(filter.name, sizeof(filter.name)));
}
