// The folder for memory shared with workers: a file system of the user's own, nowhere in the
// folder tree, whose files are backed by huge pages.
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "HugePageFolder.h"

namespace {

// The kilobytes of the mapping at `start` that the kernel maps with huge pages, from
// /proc/self/smaps; -1 when the mapping is not found.
long HugeKilobytesAt(const void* start)
{
	FILE* maps = fopen("/proc/self/smaps", "r");
	if (maps == NULL)
		return -1;
	char line[512];
	bool inMapping = false;
	long kilobytes = -1;
	unsigned long wanted = (unsigned long)start;
	while (fgets(line, sizeof(line), maps) != NULL) {
		unsigned long from = 0;
		unsigned long to = 0;
		if (sscanf(line, "%lx-%lx ", &from, &to) == 2 && strchr(line, ':') != NULL &&
		    strncmp(line, "VmFlags", 7) != 0) {
			inMapping = from == wanted;
			continue;
		}
		long value = 0;
		if (inMapping && sscanf(line, "ShmemPmdMapped: %ld kB", &value) == 1)
			kilobytes = value;
		if (inMapping && sscanf(line, "FilePmdMapped: %ld kB", &value) == 1 && value > 0)
			kilobytes = kilobytes < 0 ? value : kilobytes + value;
	}
	fclose(maps);
	return kilobytes;
}

TEST(HugePageFolder, GivesThisUserHugePages)
{
	int folder = OpenHugePageFolder();
	if (folder < 0)
		GTEST_SKIP() << "this kernel allows no such folder (no Landlock 3, or no user namespaces)";

	struct statfs system;
	ASSERT_EQ(fstatfs(folder, &system), 0);
	EXPECT_EQ(system.f_type, (decltype(system.f_type))TMPFS_MAGIC);

	const size_t kLength = 8 << 20;
	int file = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
	ASSERT_GE(file, 0) << strerror(errno);
	struct stat status;
	ASSERT_EQ(fstat(file, &status), 0);
	EXPECT_EQ(status.st_uid, geteuid());
	EXPECT_EQ(status.st_gid, getegid());
	ASSERT_EQ(ftruncate(file, kLength), 0);

	void* mapping = mmap(NULL, kLength, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
	ASSERT_NE(mapping, MAP_FAILED);
	memset(mapping, 7, kLength);
	// At least one huge page: the kernel may lack free ones for the rest.
	EXPECT_GE(HugeKilobytesAt(mapping), 2048);

	munmap(mapping, kLength);
	close(file);
	close(folder);
}

} // namespace
