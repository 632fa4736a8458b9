// WriteImage failures leave the destination as it was and no temporary file behind.
#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ImageFile.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

namespace {

class AtomicWriteTest : public ScratchTest {
protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		fBitmap = MakeBitmap(300, 200, B_RGB32);
		FillRandom(fBitmap.get(), 5);
	}

	// Writes the test bitmap to `path` and checks that it fails with a message naming the path.
	void ExpectFailure(const std::string& path, const WriteOptions& options, const char* message)
	{
		std::string error;
		EXPECT_FALSE(WriteImage(*fBitmap, path, options, error));
		EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
		EXPECT_NE(error.find(message), std::string::npos) << error;
	}

	BitmapPtr fBitmap;
};

// Destinations whose folder cannot take a new file: nothing is created anywhere.
TEST_F(AtomicWriteTest, UnwritableFolders)
{
	WriteBytes(Path("plain"), Bytes(10, 'x'));
	const struct {
		std::string path;
		const char* message;
	} kDestinations[] = {
	    {Path("missing/out.png"), "No such file or directory"},
	    {Path("plain/out.png"), "Not a directory"},
	    {"/proc/quimbel-test-out.png", "cannot create a file in /proc:"},
	};
	for (const auto& destination : kDestinations)
		ExpectFailure(destination.path, WriteOptions(), destination.message);
	EXPECT_EQ(Entries(), std::vector<std::string>{"plain"});
}

// A folder without write permission refuses the temporary file (as root, which may write
// anywhere, the write is tried in a child process that has become the user nobody).
TEST_F(AtomicWriteTest, ReadOnlyFolder)
{
	ASSERT_EQ(chmod(fFolder.c_str(), 0755), 0);
	ASSERT_EQ(mkdir(Path("locked").c_str(), 0555), 0);
	std::string path = Path("locked/out.png");
	if (geteuid() != 0) {
		ExpectFailure(path, WriteOptions(), "Permission denied");
		return;
	}

	const uid_t kNobody = 65534;
	pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		std::string error;
		bool refused =
		    setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
		    !WriteImage(*fBitmap, path, WriteOptions(), error) &&
		    error == path + ": cannot create a file in " + Path("locked") + ": Permission denied";
		_exit(refused ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
	EXPECT_TRUE(std::filesystem::is_empty(Path("locked")));
}

// Failures after the temporary file exists, in the middle of the data or before any, keep the
// old destination and remove the temporary file.
TEST_F(AtomicWriteTest, FailureKeepsTheOldFile)
{
	Bytes old(100, 'o');
	WriteBytes(Path("out.png"), old);
	WriteBytes(Path("out.jpg"), old);

	// The file size limit makes writes past 4 KB fail with EFBIG; the signal it raises is
	// ignored so that write() reports the error.
	struct rlimit saved;
	ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
	struct rlimit small = saved;
	small.rlim_cur = 4096;
	sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
	ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
	WriteOptions uncompressed;
	uncompressed.existing = Existing::kReplace;
	uncompressed.pngCompression = 0;
	uncompressed.quality = 100;
	ExpectFailure(Path("out.png"), uncompressed, "File too large");
	ExpectFailure(Path("out.jpg"), uncompressed, "File too large");
	setrlimit(RLIMIT_FSIZE, &saved);
	signal(SIGXFSZ, handler);

	BitmapPtr gray = MakeBitmap(4, 4, B_GRAY8);
	std::string error;
	EXPECT_FALSE(WriteImage(*gray, Path("out.png"), uncompressed, error));
	EXPECT_NE(error.find("only B_RGB32 and B_RGBA32"), std::string::npos) << error;

	EXPECT_EQ(ReadBytes(Path("out.png")), old);
	EXPECT_EQ(ReadBytes(Path("out.jpg")), old);
	EXPECT_EQ(Entries().size(), 2u);
}

// Requests WriteImage cannot carry out are refused before any file is made.
TEST_F(AtomicWriteTest, RefusedRequests)
{
	const struct {
		const char* name;
		int compression;
		int quality;
		const char* message;
	} kRequests[] = {
	    {"out.gif", 3, 90, "unknown image kind"},
	    {"png", 3, 90, "unknown image kind"},
	    {"dir.png/out", 3, 90, "unknown image kind"},
	    {"out.png", -1, 90, "PNG compression must be 0 to 9"},
	    {"out.png", 10, 90, "PNG compression must be 0 to 9"},
	    {"out.jpg", 3, -1, "quality must be 1 to 100"},
	    {"out.jpg", 3, 101, "quality must be 1 to 100"},
	    {"out.heic", 3, 90, "HEIC files can be read but not written"},
	};
	for (const auto& request : kRequests) {
		WriteOptions options;
		options.pngCompression = request.compression;
		options.quality = request.quality;
		ExpectFailure(Path(request.name), options, request.message);
	}
	EXPECT_TRUE(Entries().empty());
}

// A destination that is a folder is not replaced, even when replacing is allowed.
TEST_F(AtomicWriteTest, FolderAsDestination)
{
	ASSERT_EQ(mkdir(Path("taken.png").c_str(), 0755), 0);
	WriteOptions replacing;
	replacing.existing = Existing::kReplace;
	ExpectFailure(Path("taken.png"), replacing, "is a folder");
	EXPECT_EQ(Entries(), std::vector<std::string>{"taken.png"});
}

} // namespace
