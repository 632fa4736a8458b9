// Scratch folders and whole-file reads and writes, for every test that touches files.
#ifndef SCRATCH_H
#define SCRATCH_H

#include <string>
#include <vector>

#include <SupportDefs.h>

#include <gtest/gtest.h>

typedef std::vector<uint8> Bytes;

// The bytes of the file at `path`; the test fails when it cannot be read.
Bytes ReadBytes(const std::string& path);
// Replaces the file at `path` with `bytes`; the test fails when it cannot be written.
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, const std::string& text);

// A fixture with a fresh scratch folder of its own, so that tests may run in parallel; the
// folder is removed with everything in it after the test, even where a test took away write
// permission.
class ScratchTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	std::string Path(const std::string& name) const { return fFolder + "/" + name; }
	// The names in a folder (by default the scratch folder), sorted, "." and ".." left out.
	std::vector<std::string> Entries(const std::string& folder = "") const;

	std::string fFolder;
};

#endif // SCRATCH_H
