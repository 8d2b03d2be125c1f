// The console timeline of `brimvale-sim run`: what the plug-in makes the
// receiver do, printed as it happens.
#pragma once

#include <cstdio>

namespace sim {

class Receiver;

// Prints what the plug-in makes the receiver do as it happens: its run log
// lines, each command with its status, mounts and unmounts, wake-ups, each
// change of the screen, events and exit. A progress line on
// `progress_stream` (shown while *progress_shown) is cleared before the
// timeline's next lines. A null `out` ends the printing.
void PrintTimeline(Receiver &receiver, std::FILE *out, std::FILE *progress_stream, bool *progress_shown);

}  // namespace sim
