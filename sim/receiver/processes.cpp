#include "processes.h"

#include <algorithm>
#include <cstdio>

namespace sim {

Processes::Processes()
{
  // What runs on a receiver before any plug-in starts.
  Start("init", 1560);
  for(int k = 0; k < 4; ++k) Start("[kthread]", 0);
  next_pid_ = 60;
  Start("/sbin/syslogd", 1612);
  next_pid_ = 120;
  Start("/root/pvr", 48212);
  Start("/usr/sbin/telnetd", 1604);
  next_pid_ = 300;
}

int Processes::Start(const std::string &command, unsigned vsz)
{
  int pid = next_pid_++;
  list_.push_back(Process{pid, "root", vsz, command});
  return pid;
}

bool Processes::Kill(int pid)
{
  auto it = std::find_if(list_.begin(), list_.end(), [pid](const Process &p) { return p.pid == pid; });
  if(it == list_.end() || pid <= 1) return false;
  list_.erase(it);
  return true;
}

const Process *Processes::Find(const std::string &command) const
{
  for(const Process &p : list_)
    if(p.command == command) return &p;
  return nullptr;
}

std::string Processes::PsOutput(PsLayout layout) const
{
  static const char *const kHeaders[] = {"  PID USER             VSZ STAT COMMAND\n", "PID   USER     COMMAND\n",
                                         "  PID TTY          TIME CMD\n"};
  std::string out = kHeaders[static_cast<int>(layout)];
  char line[512];
  for(const Process &p : list_)
  {
    if(layout == PsLayout::kBusybox)
      std::snprintf(line, sizeof(line), "%5d %-8.8s %s\n", p.pid, p.user.c_str(), p.command.c_str());
    else if(layout == PsLayout::kProcps)
      // procps names the program only, cut to 15 characters.
      std::snprintf(line, sizeof(line), "%5d ?        00:00:00 %.15s\n", p.pid,
                    p.command.substr(p.command.rfind('/') == std::string::npos ? 0 : p.command.rfind('/') + 1).c_str());
    else
      // 5 + 1 + 8 + 1 + 12 + 1 + 4 + 1 = 33 columns (0 to 32) before the command.
      std::snprintf(line, sizeof(line), "%5d %-8.8s %12u %-4.4s %s\n", p.pid, p.user.c_str(), p.vsz,
                    p.vsz == 0 ? "SW" : "S", p.command.c_str());
    out += line;
  }
  return out;
}

}  // namespace sim
