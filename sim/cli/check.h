// brimvale-sim check: how the plug-in would read a receiver owner's folder of
// settings files (Brimvale.ini, 2.ini ... 9.ini), what it would mount where
// and with which command lines, and every problem it would meet. The
// plug-in's own code reads the files and builds the commands, on a stand-in
// receiver in a temporary sandbox; nothing is run for real and no time passes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sim {
struct SettingsFolder;
}

// Exit statuses of the check.
constexpr int kCheckClean = 0;       // no problems
constexpr int kCheckProblems = 1;    // problems found
constexpr int kCheckUnreadable = 2;  // the folder (or a settings file in it) could not be read

// Writes the report on `folder` to `out` and returns one of the statuses above.
int CheckSettingsFolder(const std::string &folder, std::ostream &out);

// The same check on settings files already read (a scenario's), for `run` to
// warn about before it starts. `name` says where they came from.
struct SettingsCheck {
  int status = kCheckClean;
  std::vector<std::string> problems;   // as the report lists them
  std::vector<std::string> warnings;
  std::vector<std::string> addresses;  // of each server the plug-in reads, server 1 first
};
SettingsCheck CheckSettingsFiles(const std::string &name, const sim::SettingsFolder &files);
