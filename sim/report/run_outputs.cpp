// The text outputs of a finished run, read from the receiver as the run
// left it and from what its RunRecord gathered.
#include "run_outputs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "../firmware/timer_table.h"
#include "../receiver/receiver.h"
#include "../scenario/scenario.h"
#include "run_record.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// Deep enough for any tree the plug-in makes; a bind mount that shows a
// folder inside itself stops here.
constexpr int kMaxTreeDepth = 32;

const char *const kLibraryLog = HDD_MOUNT LIB_LOG_FOLDER "/" LIB_LOG_FILE_NAME;

// A time of the summary: "20:01:16", or "2026-12-09 00:00:05" on a later day.
std::string SummaryTime(const ReceiverConfig &config, uint32_t tick)
{
  std::string full = VirtualTime(config, tick);
  std::string first = VirtualTime(config, config.start_tick);
  full.resize(full.size() - 3);  // whole seconds
  return full.compare(0, 10, first, 0, 10) == 0 ? full.substr(11) : full;
}

// The folder tree below `path` as the receiver sees it: what is mounted
// shows instead of the disk underneath.
void ReceiverTree(Receiver &receiver, const std::string &path, const std::string &prefix, int depth,
                  std::vector<std::string> *lines)
{
  std::string host;
  if(depth > kMaxTreeDepth || !receiver.disk().HostPath(path, "/", &host)) return;
  std::error_code ec;
  std::vector<std::string> names;
  for(fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  for(const std::string &name : names)
  {
    std::string child = path + "/" + name;
    std::string child_host;
    PathLook look;
    bool folder = receiver.disk().HostPath(child, "/", &child_host, &look, true) && look.folder();
    lines->push_back(prefix + name + (folder ? "/" : ""));
    if(folder) ReceiverTree(receiver, child, prefix + name + "/", depth + 1, lines);
  }
}

// The run log (both parts) and the support library's log, as they are.
bool CopyLogs(Receiver &receiver, const std::string &folder, std::string *error)
{
  std::error_code ec;
  for(const char *log : {kRunLogPath, kOldRunLogPath, kLibraryLog})
  {
    std::string host = receiver.disk().host_root() + log;
    if(fs::exists(host)) fs::copy_file(host, folder + "/" + fs::path(log).filename().string(), ec);
    if(ec)
    {
      *error = "cannot copy " + std::string(log) + ": " + ec.message();
      return false;
    }
  }
  return true;
}

// The tree as the receiver sees it at the end: with mounts left in place
// (stop = false), their contents, not the disk underneath.
bool WriteTree(Receiver &receiver, const std::string &file)
{
  std::ofstream tree(file);
  tree << "mount table:\n";
  for(const MountEntry &m : receiver.disk().mounts()) tree << "  " << m.source << " on " << m.point << " type " << m.type << "\n";
  tree << "/mnt/hd, as the receiver sees it:\n";
  std::vector<std::string> paths;
  ReceiverTree(receiver, kHddMount, "", 0, &paths);
  for(const std::string &p : paths) tree << "  " << p << "\n";
  return static_cast<bool>(tree);
}

bool WriteTimers(const Scenario &scenario, const std::string &timer_lines, const std::string &file)
{
  std::ofstream timers(file);
  if(scenario.timers.empty())
    timers << "no recording timers\n";
  else
    timers << "timer table: " << scenario.timers.size() << " timers in " << scenario.timer_layout.size << "-byte "
           << scenario.timer_layout.name << " slots, pre-recording padding " << scenario.eeprom_pre_padding
           << " min\n"
           << timer_lines;
  return static_cast<bool>(timers);
}

// Per server, from the network's record and the commands. Times are the
// receiver's local time (the date only when it is not the first day).
bool WriteSummary(const Scenario &scenario, Receiver &receiver, const RunRecord &record, int main_result,
                  const std::string &timer_lines, const std::string &file)
{
  const ReceiverConfig &config = receiver.config();
  std::ofstream summary(file);
  summary << "run from " << SummaryTime(config, config.start_tick) << " (" << VirtualTime(config, config.start_tick).substr(0, 10)
          << ") to " << SummaryTime(config, receiver.clock().tick()) << "\n";
  summary << "server        address          woken at  answered  mounted at  attempts  failed  mounts  unmounts  "
             "pings  wake-ups\n";
  uint32_t first_tick = config.start_tick;
  const std::vector<NasConfig> &servers = receiver.network().servers();
  for(size_t k = 0; k < servers.size() && k < record.servers().size(); ++k)
  {
    const NasConfig &nas = servers[k];
    const ServerFigures &figures = record.servers()[k];
    const NasState *state = receiver.network().State(nas.name);
    auto at = [&](bool happened, double seconds) {
      return happened ? SummaryTime(config, first_tick + static_cast<uint32_t>(seconds * 100)) : std::string("-");
    };
    std::string mounted_at = figures.mounted ? SummaryTime(config, figures.mounted_tick) : "-";
    char line[400];
    std::snprintf(line, sizeof(line), "%-13s %-16s %9s %9s %11s %9zu %7d %7d %9d %6d %9d\n", nas.name.c_str(),
                  nas.address.c_str(), at(state->woken, state->woken_at).c_str(),
                  at(state->first_answer >= 0, state->first_answer).c_str(), mounted_at.c_str(), figures.attempts,
                  figures.failed, figures.mounts, figures.unmounts, state->pings, state->wake_packets);
    summary << line;
  }
  std::string ended = "was stopped at the end of the run";
  if(record.exited()) ended = "exited (TAP_Exit) at " + SummaryTime(config, record.exit_tick());
  if(!receiver.ended()) ended = "was still running at the end of the run";
  summary << "plug-in: TAP_Main returned " << main_result << ", " << ended << "\n";
  if(!scenario.timers.empty()) summary << "timers:\n" << timer_lines;
  return static_cast<bool>(summary);
}

}  // namespace

bool WriteRunOutputs(const Scenario &scenario, Receiver &receiver, RunRecord &record,
                     const TimerTableImage &timers_before, int main_result, const std::string &folder,
                     std::string *error)
{
  if(!record.End())
  {
    *error = "cannot write " + folder + "/commands.txt";
    return false;
  }
  if(!CopyLogs(receiver, folder, error)) return false;
  std::string timer_lines = DescribeTimers(timers_before, ReadTimerTable(scenario, receiver));
  bool tree = WriteTree(receiver, folder + "/tree.txt");
  bool timers = WriteTimers(scenario, timer_lines, folder + "/timers.txt");
  bool summary = WriteSummary(scenario, receiver, record, main_result, timer_lines, folder + "/summary.txt");
  if(!tree || !timers || !summary)
  {
    *error = "cannot write the output files in " + folder;
    return false;
  }
  return true;
}

}  // namespace sim
