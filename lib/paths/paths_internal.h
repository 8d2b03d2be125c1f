#ifndef BRIMVALE_LIB_PATHS_INTERNAL_H
#define BRIMVALE_LIB_PATHS_INTERNAL_H

#include <stddef.h>

#include "../../host/firmware.h"
#include "paths.h"

// Results of CurrentDirInto besides 0 (copied).
#define CURRENT_DIR_UNREACHABLE (-3)  // firmware table or our slot index missing
#define CURRENT_DIR_TOO_LONG (-4)     // the folder does not fit the destination

// The directory stack: entry 0 is the bottom, TAPDirStackDepth the top (-1: empty).
extern char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY_SIZE];
extern int TAPDirStackDepth;

// The current folder in TAP notation into `dest` of `size` bytes. 0 when
// copied (the empty text when the firmware has no folder object for us),
// CURRENT_DIR_UNREACHABLE or CURRENT_DIR_TOO_LONG with `dest` empty.
int CurrentDirInto(char *dest, size_t size);

// Appends "/" unless `text` (in a buffer of `size` bytes) already ends with
// one; the empty text becomes "/". 1, or 0 when it did not fit.
int CloseDir(char *text, size_t size);

// 1 when `path` lies below the disk's Linux mount: "/mnt/hd" alone or
// followed by "/" (not "/mnt/hd2/...", a different mount).
int IsHddLinuxPath(const char *path);

#endif
