#include "FilterDescriptions.h"

namespace {

struct Description {
	int32_t id;
	const char* name;
	const char* text;
};

// 'nega', the four-character code of Negative.
const int32_t kNegativeId = 0x6e656761;

// Flip Horizontal, Double and Brighten do what their code does, not quite what their names
// promise; the descriptions say so, since users are surprised otherwise.
const Description kDescriptions[] = {
    {1, "Brighten",
     "raises each pixel's lowest channel by 10, the others in step; near-white "
     "wraps to dark"},
    {4, "Flip Vertical", "mirrors the image left to right (across the vertical axis)"},
    {5, "Flip Horizontal", "turns the image upside down (a mirror across the horizontal axis)"},
    {8, "Rotate CCW 90", "turns the image a quarter turn counter-clockwise"},
    {9, "Rotate CW 90", "turns the image a quarter turn clockwise"},
    {10, "Half", "halves each side, averaging pixels: 512 pixels give 256"},
    {11, "Double", "doubles each side less one, interpolating: 512 pixels give 1023"},
    {100, "My", "copies the image unchanged"},
    {kNegativeId, "Negative", "inverts every colour channel (255 minus it); alpha unchanged"},
};

} // namespace

const char* FilterDescription(int32_t id, const std::string& name)
{
	for (const Description& description : kDescriptions) {
		if (description.id == id && name == description.name)
			return description.text;
	}
	return NULL;
}
