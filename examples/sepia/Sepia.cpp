// Sepia: tones a 32-bit image in the browns of an old photograph, alpha kept. An example of an
// add-on built outside the quimbel tree, against an installed kit.
#include <new>

#include <AccessorDomain.h>
#include <BitmapDrawer.h>
#include <ImageFilter.h>

namespace {

// One channel of the result from the classic sepia weights, in thousandths. Green's weights are
// each below red's and blue's below green's, so red >= green >= blue in every result.
uint8 Toned(const rgb_color& c, uint32 fromRed, uint32 fromGreen, uint32 fromBlue)
{
	uint32 value = (fromRed * c.red + fromGreen * c.green + fromBlue * c.blue) / 1000;
	return value > 255 ? 255 : value;
}

} // namespace

class Sepia : public ImageFilter {
public:
	Sepia()
	{
		id = 0x73657069; // 'sepi'
		strcpy(name, "Sepia");
	}

	BBitmap* Run(BBitmap* source) override
	{
		if (source == NULL)
			return NULL;
		BRect bounds = source->Bounds();
		// NULL for a source the pixel accessor cannot serve, or when memory is short.
		BBitmap* destination = CreateAccessorDestination(source, bounds);
		if (destination == NULL)
			return NULL;

		BitmapDrawer from(source);
		BitmapDrawer to(destination);
		for (int32 y = 0; y <= bounds.IntegerHeight(); y++) {
			for (int32 x = 0; x <= bounds.IntegerWidth(); x++) {
				rgb_color c;
				from.GetPixel(x, y, &c);
				rgb_color toned = {Toned(c, 393, 769, 189), Toned(c, 349, 686, 168),
				                   Toned(c, 272, 534, 131), c.alpha};
				to.SetPixel(x, y, toned);
			}
		}
		return destination;
	}
};

extern "C" ImageFilter* instantiate_filter()
{
	return new (std::nothrow) Sepia;
}
