// The receiver's processes, as far as the plug-in can see them: what ps
// lists, what portmap starts and kill ends.
#pragma once

#include <string>
#include <vector>

namespace sim {

// How a receiver's ps lays out its list.
enum class PsLayout {
  kReceiver,  // the receiver's own: number in columns 0-4, command from column 33
  kBusybox,   // Debian's busybox: "%5u %-8.8s %s", the command from column 15
  kProcps,    // procps: "%5d ?        00:00:00 %s", the command from column 24
};

struct Process {
  int pid;
  std::string user;
  unsigned vsz;  // KiB
  std::string command;
};

class Processes {
 public:
  Processes();
  // Starts a process and returns its number.
  int Start(const std::string &command, unsigned vsz = 1200);
  // Ends a process; false when there is no such number.
  bool Kill(int pid);
  const Process *Find(const std::string &command) const;
  const std::vector<Process> &list() const { return list_; }
  // The list as ps prints it in `layout`, header first; the number is
  // right-aligned in the first five columns (wider numbers push the rest on).
  std::string PsOutput(PsLayout layout = PsLayout::kReceiver) const;

 private:
  std::vector<Process> list_;
  int next_pid_ = 1;
};

}  // namespace sim
