#include "PngImageData.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <zlib.h>

#include "PngRowFilter.h"

namespace {

// The filtered bytes deflated as one strip: enough that the flush ending each strip and the
// history each starts without cost little, few enough that the threads share the work evenly.
const size_t kStripBytes = 512 * 1024;
// How many strips each thread may have done ahead of the one being written, which bounds the
// memory the strips hold.
const int kStripsAheadPerThread = 4;
// The data of each IDAT chunk but the last.
const size_t kChunkBytes = 64 * 1024;

const char kNoMemory[] = "not enough memory to write PNG";

// A strip deflated: raw deflate data ending on a byte boundary, and the Adler-32 checksum and
// length of the filtered rows it holds.
struct Strip {
	std::vector<uint8> deflated;
	uLong adler;
	size_t length;
};

// One thread's means to encode strips: its row filter, a buffer of filtered rows and a zlib
// stream, reused strip after strip.
class StripEncoder {
public:
	StripEncoder(const BBitmap& bitmap, PngPixels pixels, int compression);
	~StripEncoder();

	bool InitCheck() const { return fReady; }

	// The strips the image is cut into, whole rows of about kStripBytes filtered bytes each.
	int32 StripCount() const { return (fHeight - 1) / fStripRows + 1; }

	// Filters and deflates the rows of strip `index`. The last strip ends the deflate stream,
	// the others end in an empty stored block, which leaves the next on a byte boundary.
	bool Encode(int32 index, Strip& strip, std::string& error);

private:
	StripEncoder(const StripEncoder&) = delete;
	StripEncoder& operator=(const StripEncoder&) = delete;

	bool _Deflate(bool last, Strip& strip, std::string& error);

	PngRowFilter fFilter;
	int32 fHeight;
	int32 fStripRows;
	std::vector<uint8> fFiltered;
	z_stream fStream;
	bool fReady;
};

// Level 1 matches runs only: on filtered photographs it is as small as zlib's slowest levels at a
// fraction of their time. The other levels are told to expect filtered rows, as libpng tells zlib.
StripEncoder::StripEncoder(const BBitmap& bitmap, PngPixels pixels, int compression)
    : fFilter(bitmap, pixels), fHeight(bitmap.Bounds().IntegerHeight() + 1),
      fStripRows((int32)std::max<size_t>(1, kStripBytes / fFilter.FilteredRowBytes())), fStream()
{
	int strategy = compression == 1 ? Z_RLE : Z_FILTERED;
	fReady = deflateInit2(&fStream, compression, Z_DEFLATED, -MAX_WBITS, 8, strategy) == Z_OK;
}

StripEncoder::~StripEncoder()
{
	if (fReady)
		deflateEnd(&fStream);
}

bool StripEncoder::Encode(int32 index, Strip& strip, std::string& error)
{
	int32 first = index * fStripRows;
	int32 count = std::min(fStripRows, fHeight - first);
	size_t rowBytes = fFilter.FilteredRowBytes();
	fFiltered.resize((size_t)count * rowBytes);
	for (int32 i = 0; i < count; i++)
		fFilter.Filter(first + i, &fFiltered[(size_t)i * rowBytes]);
	strip.length = fFiltered.size();
	strip.adler = adler32_z(adler32(0, NULL, 0), fFiltered.data(), fFiltered.size());
	return _Deflate(first + count == fHeight, strip, error);
}

bool StripEncoder::_Deflate(bool last, Strip& strip, std::string& error)
{
	deflateReset(&fStream);
	fStream.next_in = fFiltered.data();
	fStream.avail_in = (uInt)fFiltered.size();
	// Room for the flush besides what deflateBound allows for a whole stream.
	strip.deflated.resize(deflateBound(&fStream, fFiltered.size()) + 16);
	size_t used = 0;
	for (;;) {
		fStream.next_out = strip.deflated.data() + used;
		fStream.avail_out = (uInt)(strip.deflated.size() - used);
		int result = deflate(&fStream, last ? Z_FINISH : Z_SYNC_FLUSH);
		used = strip.deflated.size() - fStream.avail_out;
		if (result == Z_STREAM_END || (result == Z_OK && !last && fStream.avail_out > 0))
			break;
		if (result != Z_OK && result != Z_BUF_ERROR) {
			error = std::string("cannot encode PNG (") +
			        (fStream.msg != NULL ? fStream.msg : "zlib failed") + ")";
			return false;
		}
		strip.deflated.resize(strip.deflated.size() * 2);
	}
	strip.deflated.resize(used);
	return true;
}

// Which strip each thread encodes next, and the strips done but not yet written. Threads take
// strips in order, at most a window ahead of the one to be written.
class StripSchedule {
public:
	StripSchedule(int32 count, int window)
	    : fDone(count), fCount(count), fWindow(window), fNextToTake(0), fNextToWrite(0),
	      fStopped(false)
	{
	}

	enum Step { kWrite, kEncode, kStop };

	// For the writing thread: the next strip in order when it is done, or else a strip to
	// encode meanwhile when there is one; otherwise waits.
	Step Next(std::unique_ptr<Strip>& strip, int32& index)
	{
		std::unique_lock<std::mutex> lock(fLock);
		for (;;) {
			if (fStopped)
				return kStop;
			if (fDone[fNextToWrite] != NULL) {
				strip = std::move(fDone[fNextToWrite]);
				fNextToWrite++;
				fChanged.notify_all();
				return kWrite;
			}
			if (_CanTake()) {
				index = fNextToTake++;
				return kEncode;
			}
			fChanged.wait(lock);
		}
	}

	// For the other threads: a strip to encode, waiting while the window is full; false once
	// every strip is taken or the work stopped.
	bool Take(int32& index)
	{
		std::unique_lock<std::mutex> lock(fLock);
		fChanged.wait(lock, [this] { return fStopped || fNextToTake >= fCount || _CanTake(); });
		if (fStopped || fNextToTake >= fCount)
			return false;
		index = fNextToTake++;
		return true;
	}

	void Done(int32 index, std::unique_ptr<Strip> strip)
	{
		std::lock_guard<std::mutex> lock(fLock);
		fDone[index] = std::move(strip);
		fChanged.notify_all();
	}

	// Stops every thread; the first error given is kept.
	void Stop(const std::string& error = std::string())
	{
		std::lock_guard<std::mutex> lock(fLock);
		if (fError.empty())
			fError = error;
		fStopped = true;
		fChanged.notify_all();
	}

	bool AllWritten() const { return fNextToWrite == fCount; }
	std::string Error()
	{
		std::lock_guard<std::mutex> lock(fLock);
		return fError;
	}

private:
	bool _CanTake() const { return fNextToTake < fCount && fNextToTake < fNextToWrite + fWindow; }

	std::mutex fLock;
	std::condition_variable fChanged;
	std::vector<std::unique_ptr<Strip>> fDone;
	int32 fCount;
	int fWindow;
	int32 fNextToTake;
	// Only the writing thread changes it.
	int32 fNextToWrite;
	bool fStopped;
	std::string fError;
};

// Gathers the stream into IDAT chunks of kChunkBytes, so that their sizes do not depend on how
// the image was cut into strips.
class ChunkWriter {
public:
	ChunkWriter(const PngDataSink& sink) : fSink(sink) { fBuffer.reserve(kChunkBytes); }

	bool Add(const uint8* data, size_t size)
	{
		while (size > 0) {
			size_t part = std::min(size, kChunkBytes - fBuffer.size());
			fBuffer.insert(fBuffer.end(), data, data + part);
			data += part;
			size -= part;
			if (fBuffer.size() == kChunkBytes && !_Flush())
				return false;
		}
		return true;
	}

	bool Finish() { return fBuffer.empty() || _Flush(); }

private:
	bool _Flush()
	{
		bool written = fSink(fBuffer.data(), fBuffer.size());
		fBuffer.clear();
		return written;
	}

	const PngDataSink& fSink;
	std::vector<uint8> fBuffer;
};

// The zlib header: deflate with a 32 KiB window, the level named as zlib names it.
bool AddHeader(ChunkWriter& writer, int compression)
{
	int level = compression < 2 ? 0 : compression < 6 ? 1 : compression == 6 ? 2 : 3;
	uint8 header[2] = {0x78, (uint8)(level << 6)};
	header[1] |= 31 - (header[0] * 256 + header[1]) % 31;
	return writer.Add(header, sizeof(header));
}

bool AddTrailer(ChunkWriter& writer, uLong adler)
{
	uint8 trailer[4] = {(uint8)(adler >> 24), (uint8)(adler >> 16), (uint8)(adler >> 8),
	                    (uint8)adler};
	return writer.Add(trailer, sizeof(trailer)) && writer.Finish();
}

void Help(const BBitmap& bitmap, PngPixels pixels, int compression, StripSchedule& schedule)
{
	try {
		StripEncoder encoder(bitmap, pixels, compression);
		// Without its zlib stream this thread leaves its share to the others.
		if (!encoder.InitCheck())
			return;
		int32 index;
		while (schedule.Take(index)) {
			auto strip = std::make_unique<Strip>();
			std::string error;
			if (!encoder.Encode(index, *strip, error)) {
				schedule.Stop(error);
				return;
			}
			schedule.Done(index, std::move(strip));
		}
	} catch (const std::bad_alloc&) {
		schedule.Stop(kNoMemory);
	}
}

// Stops and joins the helping threads however the writing thread leaves.
class Helpers {
public:
	Helpers(StripSchedule& schedule) : fSchedule(schedule) {}
	~Helpers()
	{
		fSchedule.Stop();
		for (std::thread& thread : fThreads)
			thread.join();
	}

	// Starts up to `count` threads; those the system refuses are done without.
	template <typename Function> void Start(int count, Function function)
	{
		for (int i = 0; i < count; i++) {
			try {
				fThreads.emplace_back(function);
			} catch (const std::system_error&) {
				return;
			}
		}
	}

private:
	StripSchedule& fSchedule;
	std::vector<std::thread> fThreads;
};

// The writing thread: writes the strips in order as they are done and encodes strips itself
// while it waits, so that the work gets done even when no other thread could be started.
bool WriteStrips(StripSchedule& schedule, StripEncoder& encoder, ChunkWriter& writer,
                 std::string& error)
{
	uLong adler = adler32(0, NULL, 0);
	while (!schedule.AllWritten()) {
		std::unique_ptr<Strip> strip;
		int32 index;
		switch (schedule.Next(strip, index)) {
		case StripSchedule::kStop:
			error = schedule.Error();
			return false;
		case StripSchedule::kEncode:
			strip = std::make_unique<Strip>();
			if (!encoder.Encode(index, *strip, error))
				return false;
			schedule.Done(index, std::move(strip));
			break;
		case StripSchedule::kWrite:
			adler = adler32_combine(adler, strip->adler, (z_off_t)strip->length);
			if (!writer.Add(strip->deflated.data(), strip->deflated.size()))
				return false;
			break;
		}
	}
	return AddTrailer(writer, adler);
}

} // namespace

int PngThreadCount()
{
	unsigned count = std::thread::hardware_concurrency();
	return count < 1 ? 1 : std::min((int)count, kPngMaxThreads);
}

bool WritePngImageData(const BBitmap& bitmap, PngPixels pixels, int compression, int threads,
                       const PngDataSink& sink, std::string& error)
{
	try {
		StripEncoder encoder(bitmap, pixels, compression);
		if (!encoder.InitCheck()) {
			error = kNoMemory;
			return false;
		}
		ChunkWriter writer(sink);
		if (!AddHeader(writer, compression))
			return false;
		int32 count = encoder.StripCount();
		int workers = std::max(1, std::min(threads, (int)std::min<int32>(count, kPngMaxThreads)));
		StripSchedule schedule(count, workers * kStripsAheadPerThread);
		Helpers helpers(schedule);
		helpers.Start(workers - 1, [&bitmap, pixels, compression, &schedule] {
			Help(bitmap, pixels, compression, schedule);
		});
		return WriteStrips(schedule, encoder, writer, error);
	} catch (const std::bad_alloc&) {
		error = kNoMemory;
		return false;
	}
}
