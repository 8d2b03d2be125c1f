// Paths in TAP notation ("/ProgramFiles/Settings", what the host's disk
// functions take) and Linux notation ("/mnt/hd/ProgramFiles/Settings", what
// the shell sees), and a stack of saved current folders.
#ifndef BRIMVALE_LIB_PATHS_H
#define BRIMVALE_LIB_PATHS_H

#include <sys/stat.h>

#include "../../host/tap.h"

#define PATH_BUFFER_SIZE 512   // work buffers and ConvertPathType's destination
#define DIR_STACK_DEPTH 16
#define DIR_STACK_ENTRY_SIZE 200

typedef enum {
  PT_FileName = 0,   // a bare name
  PT_TapDir = 1,     // a folder in TAP notation; converted form ends with "/"
  PT_LinuxDir = 2,   // a folder in Linux notation; converted form ends with "/"
  PT_TapFile = 3,    // a file in TAP notation
  PT_LinuxFile = 4,  // a file in Linux notation
} PathType;

// The plug-in's current folder in TAP notation, as the firmware keeps it,
// into `dest` of PATH_BUFFER_SIZE bytes (may be null). 0 (the empty text
// when the firmware has no folder object for us), -3 when the firmware table
// is out of reach, -4 when the folder does not fit; dest is empty on failure.
int HDD_TAP_GetCurrentDir(char *dest);

// Saves the current folder on the stack: 1, or 0 when the stack is full or
// the folder cannot be read or does not fit an entry (stack unchanged).
int HDD_TAP_PushDir(void);

// Returns to the folder saved last: 0 on an empty stack, else HDD_ChangeDir's result.
int HDD_TAP_PopDir(void);

// Makes `path` (TAP or Linux notation, absolute or relative) the current
// folder: 1, or 0 with the current folder unchanged.
int HDD_ChangeDir(const char *path);

// The notation of `path` (a PathType value).
dword GetPathType(const char *path);

// Converts `source` to notation `target` into `dest` (PATH_BUFFER_SIZE
// bytes). An empty result means the conversion is not possible.
void ConvertPathType(const char *source, char *dest, dword target);

// lstat64 of the receiver's C library, found at run time on first use
// (lstat64, else __lxstat64): 0 with *info filled, -1 when the path cannot be
// looked at or the C library offers neither call.
int LinuxLstat(const char *path, struct stat64 *info);

// The same for stat64 (stat64, else __xstat64), which follows a symbolic
// link to what it names: what a bind mount of `path` shows.
int LinuxStat(const char *path, struct stat64 *info);

// 1 when `text` ends with `suffix` (byte-wise); 0 when not, or either is null or empty.
int StringEndsWith(const char *text, const char *suffix);

#endif
