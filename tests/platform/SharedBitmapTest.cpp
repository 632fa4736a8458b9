// Bitmaps over shared memory: another mapping sees the same pixels, memory that is no file or is
// too short for the bounds is refused, and new files come from the folder set for them.
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SharedBitmap.h>

#include "TestSupport.h"

namespace {

// A bitmap adopted from a shared bitmap's descriptor shows its pixels, and cannot change them
// when adopted read-only.
TEST(SharedBitmap, AdoptedBitmapSeesThePixels)
{
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr original = MakeBitmap(7, 5, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	ASSERT_TRUE(original->IsValid());
	FillRandom(original.get(), 3);
	int descriptor = BPrivate::SharedBitmapDescriptor(*original);
	ASSERT_GE(descriptor, 0);

	std::unique_ptr<BBitmap> adopted(
	    BPrivate::AdoptSharedBitmap(dup(descriptor), original->Bounds(), B_RGBA32, false));
	ASSERT_NE(adopted, nullptr);
	EXPECT_EQ(Words(*adopted), Words(*original));
	EXPECT_EQ(BPrivate::SharedBitmapDescriptor(*MakeBitmap(2, 2, B_RGBA32)), -1);
}

// A descriptor that is no file, or memory shorter than the bounds need, gives no bitmap and
// leaves the descriptor to the caller.
TEST(SharedBitmap, RefusesMemoryThatDoesNotFit)
{
	int pipeEnds[2];
	ASSERT_EQ(pipe(pipeEnds), 0);
	EXPECT_EQ(BPrivate::AdoptSharedBitmap(pipeEnds[0], BRect(0, 0, 3, 3), B_RGBA32, false),
	          nullptr);
	EXPECT_EQ(close(pipeEnds[0]), 0);
	EXPECT_EQ(close(pipeEnds[1]), 0);

	BPrivate::SetSharedBitmaps(true);
	BitmapPtr small = MakeBitmap(4, 4, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	int descriptor = dup(BPrivate::SharedBitmapDescriptor(*small));
	EXPECT_EQ(BPrivate::AdoptSharedBitmap(descriptor, BRect(0, 0, 99, 99), B_RGBA32, false),
	          nullptr);
	EXPECT_EQ(close(descriptor), 0);
}

std::string sFolderPath;
int sFolderOpenings = 0;

int OpenTestFolder()
{
	sFolderOpenings++;
	return open(sFolderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// With a folder set, shared bitmaps and lent memory are unnamed files of the folder, which is
// opened once, the first time one is made; without, they are sealed memfds again.
TEST(SharedBitmap, FilesComeFromTheFolderSet)
{
	char folder[] = "/dev/shm/shared-bitmap-XXXXXX";
	ASSERT_NE(mkdtemp(folder), nullptr);
	sFolderPath = folder;
	struct stat folderStatus;
	ASSERT_EQ(stat(folder, &folderStatus), 0);

	BPrivate::SetSharedMemoryFolder(OpenTestFolder);
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr first = MakeBitmap(300, 200, B_RGBA32);
	BitmapPtr second = MakeBitmap(30, 20, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);
	void* lentMapping = NULL;
	int lent = BPrivate::MakeSharedMemory(1 << 20, &lentMapping);
	BPrivate::SetSharedMemoryFolder(nullptr);
	BPrivate::SetSharedBitmaps(true);
	BitmapPtr afterwards = MakeBitmap(30, 20, B_RGBA32);
	BPrivate::SetSharedBitmaps(false);

	EXPECT_EQ(sFolderOpenings, 1);
	ASSERT_GE(lent, 0);
	for (int descriptor : {BPrivate::SharedBitmapDescriptor(*first),
	                       BPrivate::SharedBitmapDescriptor(*second), lent}) {
		struct stat status;
		ASSERT_EQ(fstat(descriptor, &status), 0);
		EXPECT_EQ(status.st_dev, folderStatus.st_dev);
		EXPECT_EQ(status.st_nlink, 0u) << "a file of the folder has a name";
		EXPECT_EQ(status.st_mode & 0777, 0600u);
	}
	EXPECT_NE(fcntl(BPrivate::SharedBitmapDescriptor(*afterwards), F_GET_SEALS) & F_SEAL_SHRINK, 0);

	// The folder's files are shared memory like any other: an adopted bitmap sees the pixels.
	FillRandom(first.get(), 5);
	std::unique_ptr<BBitmap> adopted(BPrivate::AdoptSharedBitmap(
	    dup(BPrivate::SharedBitmapDescriptor(*first)), first->Bounds(), B_RGBA32, false));
	ASSERT_NE(adopted, nullptr);
	EXPECT_EQ(Words(*adopted), Words(*first));

	munmap(lentMapping, 1 << 20);
	close(lent);
	EXPECT_EQ(rmdir(folder), 0) << "a file was left in the folder";
}

} // namespace
