// A folder for the pixel memory the host shares with its workers, on a file system of its own
// whose files the kernel backs with 2 MiB pages.
//
// Where the kernel gives shared-memory files (memfds) only 4 KiB pages, as many do by default,
// every process's first touch of each page of an image costs a fault: for a 6000 x 4000 image,
// about a tenth of a second per process and per image on a virtual machine. A tmpfs mounted with
// huge=always gives its files huge pages whatever that setting, and any user may mount one in a
// user namespace of their own: a short-lived child process does so, detached from every folder,
// and hands the mount over. Nobody else can reach it, and it goes when the last file in it and
// the descriptor are closed.
#ifndef HUGE_PAGE_FOLDER_H
#define HUGE_PAGE_FOLDER_H

// A descriptor of the root folder of such a file system, for the kit's new shared-memory files
// (see SetSharedMemoryFolder() in SharedBitmap.h); -1 when the kernel allows none, or allows no
// worker to be kept from shrinking a file it was lent (see the function's comments).
int OpenHugePageFolder();

#endif // HUGE_PAGE_FOLDER_H
