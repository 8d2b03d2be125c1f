// The receiver's processes, as far as the plug-in can see them: what ps
// lists, what portmap starts and kill ends.
#pragma once

#include <string>
#include <vector>

namespace sim {

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
  // The list as the receiver's ps prints it: the number right-aligned in the
  // first five columns, the command from column 33 on (counted from 0).
  std::string PsOutput() const;

 private:
  std::vector<Process> list_;
  int next_pid_ = 1;
};

}  // namespace sim
