// What `check` found in a settings folder, before a word of it is printed:
// the rules (check.cpp running those of check_files.cpp, check_settings.cpp
// and check_commands.cpp) fill it in full, every problem collected, and the
// printer (check_text.cpp) turns it into the report that brimvale-sim check
// and the web page show.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

struct CheckProblem {
  std::string file;
  int line = 0;    // 0: the file as a whole
  int server = 0;  // 0: no particular server
  std::string key;
  std::string text;
};

// "2.ini line 3, server 2, "Local Folder Name"": where a problem lies.
std::string ProblemPlace(const CheckProblem &p);

// A setting as the plug-in reads it: its key, the value shown, and where it
// came from ("line 3", "not set: default", ...).
struct CheckSetting {
  std::string key;
  std::string value;
  std::string note;
};

// A command the plug-in would compose; `command` is empty when it refuses to.
struct CheckCommand {
  bool wanted = false;  // false: the plug-in makes none (Automount 0, no MAC)
  std::string command;  // as the receiver's shell would get it, in UTF-8
};

struct CheckShare {
  std::string name;         // "MediaFiles"
  std::string root;         // "/mnt/hd/MediaFiles"
  bool recording = false;   // mounted in place of the recording folder
  std::string local_name;   // the subfolder under `root`, in UTF-8
  std::string local_recordings;  // where the receiver's own recordings stay, with `recording`
  std::string command;      // empty: refused
};

struct CheckServer {
  int n = 0;
  std::string file;
  std::vector<CheckSetting> settings;
  int boot_time = 0;
  int ping_gap = 0;
  CheckCommand ping, wakeup;
  std::vector<CheckShare> shares;  // the configured ones
};

struct CheckGlobals {
  std::vector<CheckSetting> settings;
  std::string network_check;   // the internet probe's ping, when MountDelay is 0
  bool timer_delay_idle = false;  // Timerdelay 1 without NAS Recording 1
};

struct CheckFindings {
  std::string folder;
  // Why the check could not go on (the folder, a file or the stand-in
  // receiver could not be read or started), or empty. `listed`: the folder
  // itself was read before that.
  std::string unreadable;
  bool listed = false;
  // Brimvale.ini is missing: the lines of the one the plug-in writes.
  std::optional<std::vector<std::string>> default_file;
  std::vector<std::string> files_read;  // server 1's first
  CheckGlobals globals;
  std::vector<CheckServer> servers;
  std::vector<std::string> ignored;   // other files, not read by the plug-in
  std::vector<std::string> warnings;
  std::vector<CheckProblem> problems;  // in the report's order
};

// The exit status the findings give (kCheckClean, kCheckProblems, kCheckUnreadable).
int CheckStatus(const CheckFindings &found);
// The report, as brimvale-sim check prints it.
void PrintCheckFindings(const CheckFindings &found, std::ostream &out);

}  // namespace sim
