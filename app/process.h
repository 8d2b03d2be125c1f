// Finding a process in the receiver's process list.
#ifndef BRIMVALE_APP_PROCESS_H
#define BRIMVALE_APP_PROCESS_H

// getprocess modes.
#define PROCESS_FIRST 1  // the number of the first matching line
#define PROCESS_LAST 0   // the number of the last matching line
// any other mode: only count

// Writes the process list with ps, reads it back and looks for `pattern`:
// *countOut = number of matches, *pidOut = the process number the mode picks
// from the start of the matching line, 0 when that line starts with none
// (untouched without a match). 1 when the list was read; 0 with a message on
// the bar when it could not be.
int getprocess(const char *pattern, int *pidOut, int *countOut, int mode);

#endif
