// The confinement of a worker process, set up before its add-on is loaded, since loading runs the
// add-on's own constructors.
#ifndef SANDBOX_H
#define SANDBOX_H

#include <string>

// Confines the process for loading `addonPath`: no new privileges; with Landlock, reading only
// the add-on file and the folders of the libraries the process has loaded, writing nowhere; and
// a system-call filter that forbids sockets, starting programs, tracing other processes and
// changing how SIGSYS is handled. A forbidden call raises SIGSYS, whose handler reports the call
// on `reportSocket` and ends the process. Sets `landlocked` to whether the kernel offers
// Landlock. Returns false with `error` when a part the kernel offers cannot be set up.
bool EnterSandbox(const std::string& addonPath, int reportSocket, bool& landlocked,
                  std::string& error);

// Narrows the system-call filter to what running a filter needs: memory, futexes, writing its
// output, the worker's socket, clocks and exiting.
bool NarrowSandbox(std::string& error);

#endif // SANDBOX_H
