// `brimvale-sim run`: one scenario from file to output folder.
//
// The output folder holds the plug-in's logs (Brimvale.log, SupportLib.log),
// every command with its status (commands.txt), the folder tree with the mount
// table (tree.txt), the timer table before and after (timers.txt), a line per
// server and per timer (summary.txt), the screenshots, the run drawn as a page
// for a browser (report.html), and the receiver's and the servers' disks
// (root/, nas/). It is built in a hidden sibling folder and
// put in place only when the run is complete: a mistake leaves no output
// folder, or the previous one untouched. Every output folder is marked (a
// .brimvale-output file listing what its run wrote), and only a marked folder
// holding nothing else is ever replaced (see output_folder.h).
#pragma once

#include <cstdio>
#include <string>

namespace sim {

struct RunOptions {
  std::string tap;           // the plug-in file
  std::string scenario;      // the scenario file
  std::string out;           // output folder; empty = out/<scenario name>
  std::string firmware_dir;  // the firmware object files
  bool quiet = false;        // no timeline
  bool progress = false;     // a progress line on `errors` (only for a terminal)
  bool report = true;        // report.html: the run as a picture
};

// Exit status: 0 done, 1 the receiver (or the plug-in file) could not be set
// up or the output not written, 2 a mistake in the scenario or a settings
// folder it names, or an output folder refused (not an earlier run's, holding
// files its run did not write, another scenario's default folder, or where
// nothing can be written). SIGINT, SIGTERM and SIGPIPE end the run: its
// partial folder is removed and the program then ends by that signal.
int RunScenarioFile(const RunOptions &options, std::FILE *timeline, std::FILE *errors);

}  // namespace sim
