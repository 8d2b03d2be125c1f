// The support library's own log ("SupportLib.log" in /ProgramFiles/Settings),
// its echo to a network terminal, and the allocation wrapper that logs misses.
#ifndef BRIMVALE_LIB_LOG_H
#define BRIMVALE_LIB_LOG_H

#include "../../host/folders.h"
#include "../../host/tap.h"

#define PUFFER_SIZE 1024         // the shared echo line buffer
#define LOG_MESSAGE_SIZE 512     // one log message: at most 511 characters
#define TERMINAL_COUNT 20        // /dev/pts/0 to /dev/pts/19 are tried
#define TERMINAL_NAME_SIZE 16

// Holds the echo line of the last LogEntryLibPrintf; callers may format their
// own line for PrintNet in it. Valid only until the next call that uses it.
extern char puffer[PUFFER_SIZE];

// Appends "<yyyy-mm-dd hh:mm:ss> <message>\r\n" to SupportLib.log (message cut
// to 511 characters) and, when `echo` is non-zero, sends
// "<timestamp>  SUPPORTLIB - <message>\n" to the first open terminal. The
// caller's current folder is kept. A null format does nothing.
void LogEntryLibPrintf(int echo, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes `text` with its terminating zero to the first of /dev/pts/0..19 that
// opens; dropped when none does (nobody logged in) or `text` is null.
void PrintNet(const char *text);

// TAP_MemAlloc(size); a null result is logged with echo naming `caller`
// unless `caller` is null. Returns the block or null; the caller frees it.
void *TAP_MemAlloc_Chk(const char *caller, int size);

#endif
