// What each of the nine add-ons that come with quimbel does to an image, in one line, for
// `quimbel list`. The README's table of filters says the same words.
#ifndef FILTER_DESCRIPTIONS_H
#define FILTER_DESCRIPTIONS_H

#include <string>

#include <cstdint>

// The description of the add-on whose filter has `id` and display name `name`, or NULL for any
// other add-on. Both must match, so that an add-on of someone else's that happens to reuse an id
// or a name is not described as one of ours.
const char* FilterDescription(int32_t id, const std::string& name);

#endif // FILTER_DESCRIPTIONS_H
