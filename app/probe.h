// Whether a server (or the internet) answers, and waking servers up.
#ifndef BRIMVALE_APP_PROBE_H
#define BRIMVALE_APP_PROBE_H

#include <stddef.h>

#include "command.h"

// Buffers of the ping and the wake-up command.
#define PING_COMMAND_SIZE 256
#define WAKEUP_COMMAND_SIZE 64

// Composes the ping command of record n (n = 0: the internet probe) to
// `address` into `command` of `size` bytes, as isOnline runs it:
// COMMAND_READY, CheckAddress's verdict on an address it refuses,
// COMMAND_TOO_LONG.
CommandStatus FormatPing(const char *address, int n, char *command, size_t size);

// Composes the wake-up command for `mac` as Wakeup runs it: COMMAND_READY,
// CheckMac's verdict on a MAC it refuses, COMMAND_TOO_LONG.
CommandStatus FormatWakeup(const char *mac, char *command, size_t size);

// Pings record n's address (n = 0: the internet probe) once, its report in
// "<n>.ping" in the settings folder. 1 = online, or not pinged because the
// record's Automount is 0; 0 = offline (also when the ping was refused).
int isOnline(const char *address, int n);

// Sends a wake-on-LAN packet to `mac` through busybox ether-wake; a failure
// is reported on a terminal only. A MAC the shell would not take as one word
// is not sent (callers log that with the server's number: WakeServer).
void Wakeup(const char *mac);

// Wakeup for server i when it has a MAC that can be sent; a MAC that cannot
// is logged with the server's number instead.
void WakeServer(int i);

#endif
