#ifndef BRIMVALE_LIB_PATHS_INTERNAL_H
#define BRIMVALE_LIB_PATHS_INTERNAL_H

#include <stddef.h>

#include "../../host/clib.h"
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

// One stat64-like call of the receiver's C library: its plain name (glibc
// 2.33 on) or, before that, its versioned form. Looked up on first use and
// kept, as the answer cannot change while the firmware runs.
typedef struct {
  const char *direct_name;     // "lstat64", "stat64"
  const char *versioned_name;  // "__lxstat64", "__xstat64"
  int looked_up;
  Stat64Fn direct;
  Xstat64Fn versioned;
} StatCall;

// Calls it on `path`: its result, or -1 when the library offers neither name.
int CallStat(StatCall *call, const char *path, struct stat64 *info);

#endif
