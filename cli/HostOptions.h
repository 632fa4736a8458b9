// The settings every quimbel command shares, filled from the command line.
#ifndef HOST_OPTIONS_H
#define HOST_OPTIONS_H

#include <functional>
#include <string>

#include "ImageFile.h"

struct HostOptions {
	// The add-on folder the user chose, searched before the others; may be empty.
	std::string addonFolder;
	ImageLimits limits;
	WriteOptions write;
	// What the images of a run may take together, in bytes; 0 for MemoryBudget::DefaultSize().
	int64 maxMemory = 0;
	// Add-ons load and run in this process instead of sandboxed workers: for debugging only.
	bool inProcess = false;
	// How long loading an add-on or one run of a filter may take in a worker, in seconds.
	int timeoutSeconds = 60;
	// Outputs leave out the colour profile and whatever else their input carried.
	bool strip = false;
	// Notes on what reading did to a picture (a first page, fewer bits) are not printed.
	bool quiet = false;
};

// Exit statuses of the command.
static const int kExitSuccess = 0;
static const int kExitSomeFailed = 1;
static const int kExitUsage = 2;

// What the chosen subcommand does once the whole command line is parsed; returns the exit status.
typedef std::function<int()> CommandRunner;

#endif // HOST_OPTIONS_H
