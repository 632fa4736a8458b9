#include "CliSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "ImageFile.h"

extern char** environ;

namespace {

// Each test process's runs of quimbel keep what they learn of add-on folders in a cache folder
// of their own, so that no test finds what another, or an earlier test run, left there.
struct OwnAddonCache {
	OwnAddonCache()
	{
		std::error_code error;
		std::string pattern =
		    (std::filesystem::temp_directory_path(error) / "quimbel-test-cache-XXXXXX").string();
		if (error || mkdtemp(&pattern[0]) == NULL)
			return;
		fFolder = pattern;
		setenv("XDG_CACHE_HOME", fFolder.c_str(), 1);
	}
	~OwnAddonCache()
	{
		std::error_code ignored;
		if (!fFolder.empty())
			std::filesystem::remove_all(fFolder, ignored);
	}
	std::string fFolder;
} sOwnAddonCache;

const uint8 kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// The test's environment without QUIMBEL_ADDONS and the variables `extra` sets, then `extra`.
std::vector<std::string> Environment(const std::vector<std::string>& extra)
{
	std::vector<std::string> replaced = {"QUIMBEL_ADDONS="};
	for (const std::string& entry : extra)
		replaced.push_back(entry.substr(0, entry.find('=') + 1));
	std::vector<std::string> entries;
	for (char** entry = environ; *entry != NULL; entry++) {
		if (std::none_of(replaced.begin(), replaced.end(), [entry](const std::string& name) {
			    return strncmp(*entry, name.c_str(), name.size()) == 0;
		    }))
			entries.push_back(*entry);
	}
	entries.insert(entries.end(), extra.begin(), extra.end());
	return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
	std::vector<char*> pointers;
	for (std::string& text : strings)
		pointers.push_back(&text[0]);
	pointers.push_back(NULL);
	return pointers;
}

// Starts quimbel with the given file actions; returns its process id, or -1.
pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            posix_spawn_file_actions_t* actions)
{
	std::vector<std::string> argv = {QUIMBEL_TEST_PROGRAM};
	argv.insert(argv.end(), arguments.begin(), arguments.end());
	std::vector<std::string> envp = Environment(environment);
	std::vector<char*> argvPointers = Pointers(argv);
	std::vector<char*> envpPointers = Pointers(envp);
	pid_t child;
	if (posix_spawn(&child, QUIMBEL_TEST_PROGRAM, actions, NULL, argvPointers.data(),
	                envpPointers.data()) != 0)
		return -1;
	return child;
}

int WaitFor(pid_t child, long* maxResidentKilobytes = NULL)
{
	int status;
	struct rusage usage = {};
	while (wait4(child, &status, 0, &usage) < 0) {
		if (errno != EINTR)
			return -1;
	}
	if (maxResidentKilobytes != NULL)
		*maxResidentKilobytes = usage.ru_maxrss;
	if (WIFSIGNALED(status))
		return 128 + WTERMSIG(status);
	return WEXITSTATUS(status);
}

} // namespace

RunResult RunQuimbel(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment)
{
	RunSetup setup;
	setup.environment = environment;
	return RunQuimbelWith(arguments, setup);
}

namespace {

// Moves the data between the test and the running program: `input` into its standard input
// while it lasts, its two output streams into `result`, until it has closed them.
void Exchange(int inputPipe, const std::string& input, int outPipe, int errPipe, RunResult& result)
{
	struct pollfd streams[3] = {
	    {outPipe, POLLIN, 0}, {errPipe, POLLIN, 0}, {inputPipe, POLLOUT, 0}};
	std::string* texts[2] = {&result.out, &result.err};
	size_t written = 0;
	int open = 2;
	while (open > 0) {
		if (poll(streams, 3, -1) < 0) {
			if (errno == EINTR)
				continue;
			break;
		}
		if (streams[2].fd >= 0 && streams[2].revents != 0) {
			ssize_t count = write(streams[2].fd, input.data() + written, input.size() - written);
			if (count > 0)
				written += count;
			if (count <= 0 || written == input.size()) {
				close(streams[2].fd);
				streams[2].fd = -1;
			}
		}
		for (int i = 0; i < 2; i++) {
			if (streams[i].fd < 0 || streams[i].revents == 0)
				continue;
			char buffer[65536];
			ssize_t count = read(streams[i].fd, buffer, sizeof(buffer));
			if (count > 0) {
				texts[i]->append(buffer, count);
				continue;
			}
			streams[i].fd = -1;
			open--;
		}
	}
	if (streams[2].fd >= 0)
		close(streams[2].fd);
}

} // namespace

RunResult RunQuimbelWith(const std::vector<std::string>& arguments, const RunSetup& setup)
{
	return RunProgram(QUIMBEL_TEST_PROGRAM, arguments, setup);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunSetup& setup)
{
	RunResult result;
	int inPipe[2];
	int outPipe[2];
	int errPipe[2];
	if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
	    pipe2(errPipe, O_CLOEXEC) != 0) {
		ADD_FAILURE() << "cannot make pipes: " << strerror(errno);
		return result;
	}
	// The program may end without reading all its input; the test must not die of that.
	signal(SIGPIPE, SIG_IGN);

	std::vector<std::string> argv = {program};
	argv.insert(argv.end(), arguments.begin(), arguments.end());
	std::vector<std::string> envp = Environment(setup.environment);
	std::vector<char*> argvPointers = Pointers(argv);
	std::vector<char*> envpPointers = Pointers(envp);
	pid_t child = fork();
	if (child == 0) {
		// Between fork and exec, only calls that are safe in a child of a threaded program.
		if (setup.hasInput)
			dup2(inPipe[0], STDIN_FILENO);
		else
			dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
		dup2(outPipe[1], STDOUT_FILENO);
		dup2(errPipe[1], STDERR_FILENO);
		for (int stream : setup.closed)
			close(stream);
		if (setup.addressSpace > 0) {
			struct rlimit limit = {setup.addressSpace, setup.addressSpace};
			setrlimit(RLIMIT_AS, &limit);
		}
		execve(program.c_str(), argvPointers.data(), envpPointers.data());
		_exit(127);
	}
	close(inPipe[0]);
	close(outPipe[1]);
	close(errPipe[1]);
	if (child < 0) {
		ADD_FAILURE() << "cannot start " << program;
		close(inPipe[1]);
		close(outPipe[0]);
		close(errPipe[0]);
		return result;
	}
	if (setup.hasInput) {
		Exchange(inPipe[1], setup.input, outPipe[0], errPipe[0], result);
	} else {
		close(inPipe[1]);
		Exchange(-1, "", outPipe[0], errPipe[0], result);
	}
	close(outPipe[0]);
	close(errPipe[0]);
	result.status = WaitFor(child, &result.maxResidentKilobytes);
	return result;
}

pid_t StartQuimbel(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment)
{
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	pid_t child = Spawn(arguments, environment, &actions);
	posix_spawn_file_actions_destroy(&actions);
	EXPECT_GT(child, 0) << "cannot start " << QUIMBEL_TEST_PROGRAM;
	return child;
}

int WaitForQuimbel(pid_t child)
{
	return WaitFor(child);
}

TerminalRun::TerminalRun(const std::vector<std::string>& arguments, unsigned short columns,
                         const std::vector<std::string>& environment)
{
	struct winsize size = {};
	size.ws_row = 24;
	size.ws_col = columns;
	int terminal;
	if (openpty(&fController, &terminal, NULL, NULL, &size) != 0) {
		ADD_FAILURE() << "cannot open a pseudo-terminal: " << strerror(errno);
		return;
	}
	std::vector<std::string> argv = {QUIMBEL_TEST_PROGRAM};
	argv.insert(argv.end(), arguments.begin(), arguments.end());
	std::vector<std::string> envp = Environment(environment);
	std::vector<char*> argvPointers = Pointers(argv);
	std::vector<char*> envpPointers = Pointers(envp);
	fChild = fork();
	if (fChild == 0) {
		// A session of its own, with the terminal as its controlling terminal.
		setsid();
		ioctl(terminal, TIOCSCTTY, 0);
		dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
		dup2(open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
		dup2(terminal, STDERR_FILENO);
		close(terminal);
		close(fController);
		execve(QUIMBEL_TEST_PROGRAM, argvPointers.data(), envpPointers.data());
		_exit(127);
	}
	close(terminal);
	if (fChild < 0)
		ADD_FAILURE() << "cannot start " << QUIMBEL_TEST_PROGRAM;
}

TerminalRun::~TerminalRun()
{
	if (fChild > 0)
		Wait();
	if (fController >= 0)
		close(fController);
}

bool TerminalRun::_ReadSome()
{
	// A minute without a word from the program means it is stuck: the test fails rather than
	// waiting forever.
	struct pollfd terminal = {fController, POLLIN, 0};
	int ready;
	do
		ready = poll(&terminal, 1, 60 * 1000);
	while (ready < 0 && errno == EINTR);
	if (ready <= 0) {
		ADD_FAILURE() << "no output from quimbel for a minute";
		return false;
	}
	char buffer[4096];
	ssize_t count;
	do
		count = read(fController, buffer, sizeof(buffer));
	while (count < 0 && errno == EINTR);
	// Once the program has ended and closed the terminal, reading gives EIO.
	if (count <= 0)
		return false;
	fText.append(buffer, count);
	return true;
}

bool TerminalRun::ReadUntil(const std::function<bool(const std::string& since)>& done)
{
	size_t start = fText.size();
	while (!done(fText.substr(start))) {
		if (fController < 0 || !_ReadSome())
			return false;
	}
	return true;
}

void TerminalRun::Resize(unsigned short columns)
{
	struct winsize size = {};
	size.ws_row = 24;
	size.ws_col = columns;
	EXPECT_EQ(ioctl(fController, TIOCSWINSZ, &size), 0) << strerror(errno);
}

int TerminalRun::Wait()
{
	while (fController >= 0 && _ReadSome())
		;
	if (fChild <= 0)
		return -1;
	int status = WaitFor(fChild);
	fChild = -1;
	return status;
}

std::string RunQuimbelOnTerminal(const std::vector<std::string>& arguments)
{
	TerminalRun run(arguments, 80);
	int status = run.Wait();
	EXPECT_EQ(status, 0) << run.Text();
	return run.Text();
}

std::vector<PngChunk> SplitPng(const Bytes& file)
{
	std::vector<PngChunk> chunks;
	EXPECT_TRUE(file.size() >= 8 && memcmp(file.data(), kPngSignature, 8) == 0);
	size_t offset = 8;
	while (offset + 12 <= file.size()) {
		uint32 length = (uint32)file[offset] << 24 | (uint32)file[offset + 1] << 16 |
		                (uint32)file[offset + 2] << 8 | file[offset + 3];
		if (length > file.size() - offset - 12) {
			ADD_FAILURE() << "chunk past the end of the file";
			break;
		}
		PngChunk chunk;
		chunk.type.assign(reinterpret_cast<const char*>(&file[offset + 4]), 4);
		chunk.data.assign(file.begin() + offset + 8, file.begin() + offset + 8 + length);
		chunks.push_back(chunk);
		offset += 12 + length;
	}
	return chunks;
}

Bytes JoinPng(const std::vector<PngChunk>& chunks)
{
	Bytes file(kPngSignature, kPngSignature + 8);
	for (const PngChunk& chunk : chunks) {
		uint32 length = chunk.data.size();
		for (int shift = 24; shift >= 0; shift -= 8)
			file.push_back(length >> shift & 0xff);
		Bytes typed(chunk.type.begin(), chunk.type.end());
		typed.insert(typed.end(), chunk.data.begin(), chunk.data.end());
		file.insert(file.end(), typed.begin(), typed.end());
		uint32 crc = crc32(0, typed.data(), typed.size());
		for (int shift = 24; shift >= 0; shift -= 8)
			file.push_back(crc >> shift & 0xff);
	}
	return file;
}

std::string QuimbelProgram()
{
	return QUIMBEL_TEST_PROGRAM;
}

std::unique_ptr<BBitmap> ReadBack(const std::string& path)
{
	std::string error;
	std::unique_ptr<BBitmap> bitmap = ReadImage(path, ImageLimits(), error);
	EXPECT_NE(bitmap, nullptr) << error;
	return bitmap;
}

std::string CliTest::MakeAddonFolder(const std::string& name, const std::vector<std::string>& files)
{
	std::string folder = Path(name);
	std::filesystem::create_directories(folder);
	for (const std::string& file : files) {
		std::filesystem::copy_file(file,
		                           folder + "/" + std::filesystem::path(file).filename().string());
	}
	return folder;
}

std::string Squeezed(const std::string& text)
{
	std::string squeezed;
	for (char c : text) {
		if (c != ' ' || squeezed.empty() || squeezed.back() != ' ')
			squeezed += c;
	}
	return squeezed;
}
