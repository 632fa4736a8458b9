// quimbel: applies image-filter add-ons to image files.
#include <cstdio>

#include <CLI/CLI.hpp>

#include <SharedBitmap.h>

#include "Commands.h"
#include "HostOptions.h"
#include "HugePageFolder.h"
#include "ProcessSetup.h"
#include "UsageErrors.h"

void AddOverwriteFlag(CLI::App& command, bool& overwrite)
{
	command.add_flag("-y,--overwrite", overwrite,
	                 "Replace output files that exist (without it they are refused)");
}

int main(int argc, char** argv)
{
	KeepArguments(argv);
	if (!OpenClosedStandardStreams())
		return kExitSomeFailed;
	RemoveTemporaryFilesOnSignals();

	HostOptions options;
	CommandRunner runner;

	CLI::App app("Applies image-filter add-ons to PNG, JPEG, WebP, TIFF, HEIC and AVIF files.",
	             "quimbel");
	app.set_version_flag("--version", "quimbel " QUIMBEL_VERSION);
	app.require_subcommand(1);
	// Options of the whole program may also follow the subcommand's name.
	app.fallthrough();
	app.add_option("--addons", options.addonFolder,
	               "Folder searched for filter add-ons first; then those of QUIMBEL_ADDONS "
	               "(colon-separated), ~/.local/lib/quimbel/addons and lib/quimbel/addons beside "
	               "the program. A filter with the name or id of one found before is shadowed");
	app.add_option("--max-pixels", options.limits.maxPixels,
	               "Largest image accepted, in pixels; checked before decoding")
	    ->capture_default_str()
	    ->check(CLI::PositiveNumber);
	app.add_option("--max-side", options.limits.maxSide, "Largest width or height accepted")
	    ->capture_default_str()
	    ->check(CLI::PositiveNumber);
	app.add_option("--max-memory", options.maxMemory,
	               "Memory the images of a run may take together, such as 8G (default: half the "
	               "physical memory); a file that does not fit waits for others to finish")
	    ->transform(CLI::AsSizeValue(false))
	    ->check(CLI::PositiveNumber);
	app.add_flag("--in-process", options.inProcess,
	             "Load and run add-ons in this process, without workers or sandbox (for debugging "
	             "an add-on; unsafe)");
	app.add_option("--timeout", options.timeoutSeconds,
	               "Seconds an add-on may take to load or to run on one image in its worker")
	    ->capture_default_str()
	    ->check(CLI::Range(1, 86400));
	app.add_option("--compression", options.write.pngCompression,
	               "PNG compression: 0 stores, 1 matches runs only (fast, suits photographs), 2 to "
	               "9 are zlib's levels")
	    ->capture_default_str()
	    ->check(CLI::Range(0, 9));
	app.add_option("--quality", options.write.quality,
	               "Quality of JPEG, lossy WebP and AVIF, 1 to 100 (default: 90 for JPEG, 80 for "
	               "WebP, 60 for AVIF)")
	    ->check(CLI::Range(1, 100));
	app.add_flag("--lossless", options.write.lossless, "Write WebP and AVIF losslessly");
	app.add_flag("--no-auto-orient{false}", options.limits.autoOrient,
	             "Work on photographs' pixels as stored, keeping their orientation tag, instead of "
	             "turning them upright first");
	app.add_flag("-q,--quiet", options.quiet,
	             "Print errors only: no notes on what reading did to a picture, no progress line");

	AddListCommand(app, options, runner);
	AddApplyCommand(app, options, runner);
	AddGalleryCommand(app, options, runner);
	AddInfoCommand(app, options, runner);
	AddCheckCommand(app, options, runner);

	try {
		app.parse(argc, argv);
	} catch (const CLI::ParseError& error) {
		return ReportUsageError(app, error);
	}
	// Images handed to workers cross as descriptors of their shared pixels, in files with huge
	// pages where the kernel allows them.
	if (!options.inProcess) {
		BPrivate::SetSharedBitmaps(true);
		BPrivate::SetSharedMemoryFolder(OpenHugePageFolder);
	}
	return runner();
}
