// The progress line of a batch, on pseudo-terminals of several widths: one line redrawn in
// place, never wider than the terminal, redrawn when the terminal is resized; nothing at all
// where it cannot be drawn.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

const char kErase[] = "\033[K";

// The pieces of terminal output between carriage returns and line breaks, with the erasing
// sequences taken out: what each redraw left on the line.
std::vector<std::string> Segments(const std::string& text)
{
	std::vector<std::string> segments;
	std::string segment;
	for (size_t i = 0; i <= text.size(); i++) {
		if (i < text.size() && text.compare(i, sizeof(kErase) - 1, kErase) == 0) {
			i += sizeof(kErase) - 2;
			continue;
		}
		if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
			if (!segment.empty())
				segments.push_back(segment);
			segment.clear();
			continue;
		}
		segment += text[i];
	}
	return segments;
}

// The last piece that is a progress line ("n/N" after the bar), or empty.
std::string LastProgress(const std::string& text, const std::string& count)
{
	std::string last;
	for (const std::string& segment : Segments(text)) {
		if (segment.find(count) != std::string::npos && segment.rfind("quimbel:", 0) != 0)
			last = segment;
	}
	return last;
}

class ProgressOnTerminal : public CliTest, public ::testing::WithParamInterface<int> {
protected:
	std::vector<std::string> Batch()
	{
		return {"apply",
		        "My",
		        SamplePath("chelsea.png"),
		        SamplePath("logo.png"),
		        SamplePath("camera.png"),
		        "-o",
		        Path("a-folder-with-a-rather-long-name"),
		        "-j",
		        "1"};
	}
};

// At every width the line fits the terminal with its last column free, and the last one drawn
// shows every file done; at 200 columns it also shows the bar, the rate, the time left and the
// file's name.
TEST_P(ProgressOnTerminal, FitsTheWidth)
{
	int columns = GetParam();

	TerminalRun run(Batch(), columns);
	int status = run.Wait();

	ASSERT_EQ(status, 0) << run.Text();
	for (const std::string& segment : Segments(run.Text())) {
		if (segment.rfind("quimbel:", 0) != 0) {
			EXPECT_LT(segment.size(), (size_t)columns) << segment;
		}
	}
	std::string last = LastProgress(run.Text(), "3/3");
	EXPECT_NE(last, "") << run.Text();
	if (columns >= 200) {
		EXPECT_NE(last.find("[" + std::string(40, '#') + "] 3/3"), std::string::npos) << last;
		EXPECT_NE(last.find(" files/s"), std::string::npos) << last;
		EXPECT_NE(last.find("0:00 left"), std::string::npos) << last;
		EXPECT_NE(run.Text().find("chelsea.png"), std::string::npos) << run.Text();
	}
	EXPECT_NE(run.Text().find("3 of 3 files written"), std::string::npos) << run.Text();
}

INSTANTIATE_TEST_SUITE_P(Widths, ProgressOnTerminal, ::testing::Values(30, 80, 200));

// Resizing the terminal while a file is being worked on redraws the line to the new width,
// without waiting for the file. The second input is a FIFO, which holds the batch until the
// test writes the image into it.
TEST_F(CliTest, ProgressFollowsAResize)
{
	std::string fifo = Path("held.png");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	TerminalRun run({"apply", "My", SamplePath("chelsea.png"), fifo, "-o", Path("out"), "-j", "1"},
	                200);

	ASSERT_TRUE(run.ReadUntil([](const std::string& since) {
		return since.find("1/2") != std::string::npos &&
		       since.find("held.png") != std::string::npos;
	})) << run.Text();
	run.Resize(30);
	size_t resized = run.Text().size();
	ASSERT_TRUE(run.ReadUntil([](const std::string& since) {
		for (const std::string& segment : Segments(since)) {
			if (segment.size() < 30 && segment.find("1/2") != std::string::npos)
				return true;
		}
		return false;
	})) << run.Text();
	Bytes image = ReadBytes(SamplePath("logo.png"));
	int writer = open(fifo.c_str(), O_WRONLY);
	ASSERT_GE(writer, 0);
	ASSERT_EQ(write(writer, image.data(), image.size()), (ssize_t)image.size());
	close(writer);
	int status = run.Wait();

	EXPECT_EQ(status, 0) << run.Text();
	std::string after = run.Text().substr(resized);
	for (const std::string& segment : Segments(after)) {
		if (segment.rfind("quimbel:", 0) != 0) {
			EXPECT_LT(segment.size(), 30u) << segment;
		}
	}
	EXPECT_NE(LastProgress(after, "2/2"), "") << after;
}

// Where the line cannot be drawn or is not wanted, a batch prints its summary and nothing else:
// standard error a pipe, TERM=dumb, or --quiet.
TEST_F(CliTest, NoProgressWhereItCannotBeDrawn)
{
	std::vector<std::string> batch = {
	    "apply", "My", SamplePath("chelsea.png"), SamplePath("logo.png"), "-o", Path("out"), "-y"};
	std::vector<std::string> quiet = batch;
	quiet.insert(quiet.begin(), "-q");

	RunResult piped = RunQuimbel(batch);
	TerminalRun dumb(batch, 80, {"TERM=dumb"});
	int dumbStatus = dumb.Wait();
	TerminalRun quietRun(quiet, 80);
	int quietStatus = quietRun.Wait();

	EXPECT_EQ(piped.status, 0) << piped.err;
	EXPECT_EQ(dumbStatus, 0) << dumb.Text();
	EXPECT_EQ(quietStatus, 0) << quietRun.Text();
	for (const std::string& text : {piped.err, dumb.Text(), quietRun.Text()}) {
		EXPECT_EQ(text.find(kErase), std::string::npos) << text;
		EXPECT_EQ(text.find("2/2"), std::string::npos) << text;
		EXPECT_NE(text.find("2 of 2 files written"), std::string::npos) << text;
	}
	EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
}

} // namespace
