// The report of `check`, from its findings: nothing here decides anything.
#include <algorithm>

#include "check.h"
#include "check_findings.h"

namespace sim {

namespace {

constexpr size_t kKeyColumn = 27;

void PrintSetting(const CheckSetting &s, std::ostream &out)
{
  std::string padded = "  " + s.key;
  padded.resize(std::max(padded.size() + 1, kKeyColumn), ' ');
  out << padded << s.value << "   (" << s.note << ")\n";
}

void PrintGlobals(const CheckGlobals &g, std::ostream &out)
{
  out << "\nGlobal settings (Brimvale.ini)\n";
  for(const CheckSetting &s : g.settings) PrintSetting(s, out);
  if(!g.network_check.empty()) out << "  Network check            " << g.network_check << "\n";
  if(g.timer_delay_idle) out << "  (Timerdelay takes effect only with NAS Recording 1)\n";
}

void PrintServer(const CheckServer &s, std::ostream &out)
{
  out << "\nServer " << s.n << " (" << s.file << ")\n";
  for(const CheckSetting &setting : s.settings) PrintSetting(setting, out);

  if(!s.ping.wanted)
    out << "  Ping: none (Automount 0: the server counts as answering and is mounted " << s.boot_time
        << " s after mounting may begin)\n";
  else if(!s.ping.command.empty())
    out << "  Ping every " << s.ping_gap << " s: " << s.ping.command << "\n";
  else
    out << "  Ping: refused (see the problems)\n";

  if(!s.wakeup.wanted)
    out << "  Wake-up: none (no MAC address)\n";
  else if(!s.wakeup.command.empty())
    out << "  Wake-up: " << s.wakeup.command << "\n";
  else
    out << "  Wake-up: refused (see the problems)\n";

  for(const CheckShare &share : s.shares)
  {
    if(share.command.empty())
    {
      out << "  " << share.name << ": refused (see the problems)\n";
      continue;
    }
    if(share.recording)
      out << "  " << share.name << " on " << share.root << " (the recording folder; the receiver's own "
          << "recordings stay reachable in " << share.root << "/" << share.local_recordings << ")\n";
    else
      out << "  " << share.name << " on " << share.root << "/" << share.local_name << "\n";
    out << "    " << share.command << "\n";
  }
  if(s.shares.empty()) out << "  No remote folder set: nothing is mounted\n";
}

// Other files, warnings, the problems and the verdict.
void PrintEnd(const CheckFindings &found, std::ostream &out)
{
  if(!found.ignored.empty())
  {
    out << "\nOther files, not read by the plug-in:";
    for(const std::string &name : found.ignored) out << " " << name;
    out << "\n";
  }
  if(!found.warnings.empty())
  {
    out << "\nWarnings:\n";
    for(const std::string &w : found.warnings) out << "  " << w << "\n";
  }
  if(found.problems.empty())
  {
    out << "\nNo problems found.\n";
    return;
  }
  size_t n = found.problems.size();
  out << "\n" << n << (n == 1 ? " problem:\n" : " problems:\n");
  for(const CheckProblem &p : found.problems) out << "  " << ProblemPlace(p) << ": " << p.text << "\n";
}

}  // namespace

std::string ProblemPlace(const CheckProblem &p)
{
  std::string where = p.file;
  if(p.line > 0) where += " line " + std::to_string(p.line);
  if(p.server > 0) where += ", server " + std::to_string(p.server);
  if(!p.key.empty()) where += ", \"" + p.key + "\"";
  return where;
}

int CheckStatus(const CheckFindings &found)
{
  if(!found.unreadable.empty()) return kCheckUnreadable;
  return found.problems.empty() ? kCheckClean : kCheckProblems;
}

void PrintCheckFindings(const CheckFindings &found, std::ostream &out)
{
  if(found.listed) out << "Settings folder " << found.folder << "\n";
  if(!found.unreadable.empty())
  {
    out << "brimvale-sim check: " << found.unreadable << "\n";
    return;
  }
  if(found.default_file)
  {
    out << "\nBrimvale.ini is missing. The plug-in would write this one to edit:\n";
    for(const std::string &line : *found.default_file) out << "  " << line << "\n";
  }
  if(!found.files_read.empty())
  {
    out << "Files read: ";
    for(size_t i = 0; i < found.files_read.size(); ++i) out << (i > 0 ? ", " : "") << found.files_read[i];
    out << "\n";
    PrintGlobals(found.globals, out);
    for(const CheckServer &s : found.servers) PrintServer(s, out);
  }
  PrintEnd(found, out);
}

}  // namespace sim
