// Shell commands built from settings values, and the kill that stops a
// process. Every value is checked before it is pasted into a command line,
// and every command must fit its buffer: a command that would run something
// other than intended, or would be cut, is refused with a run-log line and
// never run.
#ifndef BRIMVALE_APP_COMMAND_H
#define BRIMVALE_APP_COMMAND_H

#include <stddef.h>

// Where a value stands in a command line.
typedef enum {
  ARG_QUOTED,    // inside double quotes: no " ` $ \ or line break
  ARG_WORD,      // a bare word (address, MAC): also no blank and none of ; & | < > ( ) ' * ? [ ] { } ~ # !
  ARG_OPTIONS,   // bare words with blanks between them (mount options)
} ArgPosition;

// 1 when `value` can stand at `position` and the shell passes it on unchanged.
int IsSafeArgument(const char *value, ArgPosition position);

// What became of a command line built from settings.
typedef enum {
  COMMAND_READY = 0,   // composed in full; may be run
  COMMAND_NONE,        // nothing to run (the share is not configured)
  COMMAND_UNSAFE,      // a setting holds characters the command cannot take
  COMMAND_NOT_PLAIN,   // the local folder name is not a plain folder name
  COMMAND_TOO_LONG,    // it would not fit its buffer (the buffer holds what fit)
  COMMAND_NOT_ADDRESS, // the address is neither a dotted quad nor a host name
  COMMAND_NOT_MAC,     // the MAC is not six hex pairs separated by ":"
} CommandStatus;

// Whether `address` can be handed to ping and mount: COMMAND_READY for an
// IPv4 dotted quad or a host name (labels of letters, digits, "-" and "_",
// 1 to 63 characters, none starting with "-", one trailing "." allowed, 253
// characters at most, and not only digits and dots); COMMAND_UNSAFE when it
// is not even one safe word; COMMAND_NOT_ADDRESS otherwise, "-o..." among
// them, which the tools would take for an option. brimvale-sim check uses
// this very rule.
CommandStatus CheckAddress(const char *address);

// The same for a MAC handed to ether-wake: COMMAND_READY for six two-digit
// hex groups separated by ":", COMMAND_UNSAFE, or COMMAND_NOT_MAC.
CommandStatus CheckMac(const char *mac);

// Rewrites a MAC written with "-" between its six groups in the ":" form
// ether-wake takes. 1 when it did; anything else is left as it is.
int NormaliseMac(char *mac);

// One run-log line saying why a command of server n is not run: `key` names
// the setting at fault, `command` is what fit of a command that is too long.
// Nothing for COMMAND_READY and COMMAND_NONE.
void LogRefusal(int n, CommandStatus status, const char *key, const char *command);

// `status` (of CheckAddress or CheckMac) as a run-log line naming server n
// and the setting `key` when it is not COMMAND_READY. 1 = ready.
int AcceptSetting(int n, const char *key, CommandStatus status);

// Formats a command into `command` of `size` bytes. 1 when it fit; 0 when it
// would have been cut (a run-log line says so; the command must not be run).
int FormatCommand(char *command, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Sends the termination signal to process `process`; 1 when kill succeeded. A
// number of 0 or less (whole process groups) is never signalled: 0.
int killprocess(int process);

#endif
