// The receiver's shell: command lines run by the C library's system().
#ifndef BRIMVALE_HOST_SHELL_H
#define BRIMVALE_HOST_SHELL_H

// Size of the shared command buffer `sysdo`.
#define SYSDO_SIZE 512

// Runs one command line through the receiver's shell. Returns the raw
// status of system(): 0 when the command succeeded, non-zero otherwise.
int ShellRun(const char *command);

#endif
