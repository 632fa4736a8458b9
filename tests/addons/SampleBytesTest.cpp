// Every add-on keeps giving the same bytes on the sample photographs: a change to the kit, the
// framework or the build that alters any result shows up here, whatever the other tests cover.
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct SampleRow {
	const char* deliverable;
	const char* sample;
	// B_RGB32: the sample's pixels with alpha forced opaque, as a JPEG or an opaque PNG reads.
	color_space space;
	// FNV-1a of the result's width, height and the visible bytes of each row.
	uint64 digest;
};

void PrintTo(const SampleRow& row, std::ostream* out)
{
	*out << row.deliverable << "/" << row.sample << (row.space == B_RGB32 ? "/rgb32" : "/rgba32");
}

uint64 Digest(const BBitmap& bitmap)
{
	uint64 hash = 14695981039346656037ull;
	auto add = [&hash](const uint8* bytes, size_t length) {
		for (size_t i = 0; i < length; i++) {
			hash ^= bytes[i];
			hash *= 1099511628211ull;
		}
	};
	int32 width = bitmap.Bounds().IntegerWidth() + 1;
	int32 height = bitmap.Bounds().IntegerHeight() + 1;
	add(reinterpret_cast<const uint8*>(&width), sizeof(width));
	add(reinterpret_cast<const uint8*>(&height), sizeof(height));
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	for (int32 y = 0; y < height; y++)
		add(bits + (size_t)y * bitmap.BytesPerRow(), (size_t)width * 4);
	return hash;
}

// Digests taken from the add-ons as they were when this table was written.
const SampleRow kRows[] = {
#include "SampleDigests.inc"
};

class SampleBytes : public testing::TestWithParam<SampleRow> {};

// The add-on's result on the sample has exactly the recorded bytes.
TEST_P(SampleBytes, MatchRecordedDigest)
{
	const SampleRow& row = GetParam();
	BitmapPtr source = ReadSample(row.sample);
	ASSERT_NE(source, nullptr);
	if (row.space == B_RGB32) {
		BitmapPtr opaque = MakeBitmap(source->Bounds(), B_RGB32);
		ASSERT_EQ(opaque->BitsLength(), source->BitsLength());
		memcpy(opaque->Bits(), source->Bits(), source->BitsLength());
		uint8* bytes = static_cast<uint8*>(opaque->Bits());
		for (int32 i = 3; i < opaque->BitsLength(); i += 4)
			bytes[i] = 255;
		source = std::move(opaque);
	}
	FilterPtr filter = LoadFilter(row.deliverable);
	ASSERT_NE(filter, nullptr);
	std::unique_ptr<BBitmap> result;
	CaptureStdout([&] { result.reset(filter->Run(source.get())); });
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(Digest(*result), row.digest)
	    << "{\"" << row.deliverable << "\", \"" << row.sample << "\", "
	    << (row.space == B_RGB32 ? "B_RGB32" : "B_RGBA32") << ", 0x" << std::hex << Digest(*result)
	    << "ull},";
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleBytes, testing::ValuesIn(kRows));

} // namespace
