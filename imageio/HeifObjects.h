// Owners of libheif's objects, which each have their own function to free them.
#ifndef HEIF_OBJECTS_H
#define HEIF_OBJECTS_H

#include <memory>

#include <libheif/heif.h>

namespace heif_objects {

template <typename Object, void (*Free)(Object*)> struct Freeing {
	void operator()(Object* object) const { Free(object); }
};

} // namespace heif_objects

typedef std::unique_ptr<heif_context, heif_objects::Freeing<heif_context, heif_context_free>>
    HeifContextPtr;
typedef std::unique_ptr<heif_image_handle,
                        heif_objects::Freeing<const heif_image_handle, heif_image_handle_release>>
    HeifHandlePtr;
typedef std::unique_ptr<heif_image, heif_objects::Freeing<const heif_image, heif_image_release>>
    HeifImagePtr;

#endif // HEIF_OBJECTS_H
