// The one way files are written: permissions, links, existing files and temporary files that a
// signal leaves behind.
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "Scratch.h"
#include "TemporaryFiles.h"

namespace {

class AtomicFileTest : public ScratchTest {
protected:
	bool Write(const std::string& path, const std::string& text, Existing existing)
	{
		std::string error;
		bool written = WriteFileAtomically(path, text, existing, error);
		fError = error;
		return written;
	}

	mode_t ModeOf(const std::string& path)
	{
		struct stat status;
		EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
		return status.st_mode & 07777;
	}

	std::string Text(const std::string& path)
	{
		Bytes bytes = ReadBytes(path);
		return std::string(bytes.begin(), bytes.end());
	}

	// The temporary files in the scratch folder.
	std::vector<std::string> Temporaries()
	{
		std::vector<std::string> found;
		for (const std::string& name : Entries()) {
			if (name.rfind(".quimbel-", 0) == 0)
				found.push_back(name);
		}
		return found;
	}

	std::string fError;
};

// A new file gets 0666 less the umask; a replaced one keeps its own permission bits, however
// narrow or wide; the temporary file is private until it is put in place.
TEST_F(AtomicFileTest, Permissions)
{
	mode_t saved = umask(027);
	ASSERT_TRUE(Write(Path("new"), "a", Existing::kKeep)) << fError;
	EXPECT_EQ(ModeOf(Path("new")), 0640u);

	for (mode_t mode : {0600, 0604, 0755}) {
		WriteText(Path("old"), "old");
		ASSERT_EQ(chmod(Path("old").c_str(), mode), 0);
		ASSERT_TRUE(Write(Path("old"), "new", Existing::kReplace)) << fError;
		EXPECT_EQ(ModeOf(Path("old")), mode);
		EXPECT_EQ(Text(Path("old")), "new");
	}
	umask(saved);

	AtomicFile file(Path("pending"), Existing::kKeep);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.Error();
	std::vector<std::string> pending = Temporaries();
	ASSERT_EQ(pending.size(), 1u);
	EXPECT_EQ(ModeOf(Path(pending[0])), 0600u);
}

// A symbolic link as destination stays a link; the file it leads to is replaced, or created
// when the link leads nowhere yet. A chain of links is followed to its end.
TEST_F(AtomicFileTest, LinksStay)
{
	std::filesystem::create_directory(Path("real"));
	WriteText(Path("real/target"), "old");
	std::filesystem::create_symlink("real/target", Path("link"));
	std::filesystem::create_symlink(Path("link"), Path("chain"));
	std::filesystem::create_symlink("real/later", Path("dangling"));

	ASSERT_TRUE(Write(Path("chain"), "new", Existing::kReplace)) << fError;
	ASSERT_TRUE(Write(Path("dangling"), "made", Existing::kKeep)) << fError;

	EXPECT_TRUE(std::filesystem::is_symlink(Path("link")));
	EXPECT_TRUE(std::filesystem::is_symlink(Path("chain")));
	EXPECT_TRUE(std::filesystem::is_symlink(Path("dangling")));
	EXPECT_EQ(Text(Path("real/target")), "new");
	EXPECT_EQ(Text(Path("real/later")), "made");
	EXPECT_EQ(Entries(Path("real")), std::vector<std::string>({"later", "target"}));
	EXPECT_EQ(Entries(), std::vector<std::string>({"chain", "dangling", "link", "real"}));
}

// Without leave to replace, an existing file is refused, also one that appears while the new
// one is being written; either way it keeps its content and no temporary file is left.
TEST_F(AtomicFileTest, KeepsExistingFiles)
{
	WriteText(Path("there"), "mine");
	EXPECT_FALSE(Write(Path("there"), "other", Existing::kKeep));
	EXPECT_EQ(fError, Path("there") + ": exists; not replacing it");

	AtomicFile file(Path("later"), Existing::kKeep);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.Error();
	fputs("other", file.File());
	WriteText(Path("later"), "mine");
	EXPECT_FALSE(file.Commit());
	EXPECT_EQ(file.Error(), "appeared while it was being written; not replacing it");

	EXPECT_EQ(Text(Path("there")), "mine");
	EXPECT_EQ(Text(Path("later")), "mine");
	EXPECT_TRUE(Temporaries().empty());
}

// Something that is not a regular file is never replaced, even with leave to replace files:
// a named pipe stays a pipe.
TEST_F(AtomicFileTest, RefusesSpecialFiles)
{
	ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
	EXPECT_FALSE(Write(Path("pipe"), "data", Existing::kReplace));
	EXPECT_EQ(fError, Path("pipe") + ": is not a regular file; not replacing it");
	EXPECT_TRUE(std::filesystem::is_fifo(Path("pipe")));
	EXPECT_TRUE(Temporaries().empty());
}

// The temporary files in flight are what a signal's handler removes; files already in place
// stay.
TEST_F(AtomicFileTest, SignalCleanupRemovesFilesInFlight)
{
	ASSERT_TRUE(Write(Path("done"), "done", Existing::kKeep)) << fError;
	AtomicFile first(Path("first"), Existing::kKeep);
	AtomicFile second(Path("second"), Existing::kKeep);
	ASSERT_EQ(Temporaries().size(), 2u);

	RemoveTemporaryFiles();

	EXPECT_TRUE(Temporaries().empty());
	EXPECT_EQ(Text(Path("done")), "done");
}

} // namespace
