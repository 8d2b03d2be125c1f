#include "run.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "receiver.h"
#include "run_report.h"
#include "scenario.h"
#include "timer_table.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

const char *const kRunLogTap = "/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log";
const char *const kRunLog = "/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log";
const char *const kLibraryLog = "/mnt/hd/ProgramFiles/Settings/SupportLib.log";

// The plug-in writes ISO 8859-1; the terminal wants UTF-8.
std::string Latin1ToUtf8(const std::string &text)
{
  std::string out;
  for(unsigned char c : text)
  {
    if(c < 0x80)
      out += static_cast<char>(c);
    else
    {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ReadText(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What was appended to the file at `path` since `*offset`, which moves on to
// its end; a file that shrank (deleted, started anew) is read from its start.
std::string ReadAddedText(const std::string &path, size_t *offset)
{
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if(!in) return std::string();
  size_t size = static_cast<size_t>(in.tellg());
  if(*offset > size) *offset = 0;
  std::string added(size - *offset, '\0');
  in.seekg(static_cast<std::streamoff>(*offset));
  in.read(added.data(), static_cast<std::streamsize>(added.size()));
  added.resize(static_cast<size_t>(in.gcount()));
  *offset += added.size();
  return added;
}

std::string Seconds(uint32_t tick, uint32_t start)
{
  return std::to_string((tick - start) / 100) + "s";
}

// Removes what it was given unless released: the half-written folder of a run
// that did not finish.
class FolderGuard {
 public:
  explicit FolderGuard(std::string path) : path_(std::move(path)) {}
  ~FolderGuard()
  {
    std::error_code ec;
    if(!path_.empty()) fs::remove_all(path_, ec);
  }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

// Puts `ready` where `out` is, moving a previous output aside only for the
// moment of the swap.
bool PutInPlace(const fs::path &ready, const fs::path &out, std::string *error)
{
  std::error_code ec;
  fs::path old;
  if(fs::exists(fs::symlink_status(out, ec)))
  {
    std::string pattern = (out.parent_path() / ("." + out.filename().string() + ".old-XXXXXX")).string();
    if(mkdtemp(pattern.data()) == nullptr || !fs::remove(pattern, ec))
    {
      *error = "cannot make room next to " + out.string();
      return false;
    }
    old = pattern;
    fs::rename(out, old, ec);
    if(ec)
    {
      *error = "cannot move the previous " + out.string() + " aside: " + ec.message();
      return false;
    }
  }
  fs::rename(ready, out, ec);
  if(ec)
  {
    *error = "cannot put the output in place at " + out.string() + ": " + ec.message();
    if(!old.empty()) fs::rename(old, out, ec);
    return false;
  }
  if(!old.empty()) fs::remove_all(old, ec);
  return true;
}

}  // namespace

void PrintTimeline(Receiver &receiver, std::FILE *out, std::FILE *progress_stream, bool *progress_shown)
{
  if(out == nullptr)
  {
    receiver.trace().SetListener(nullptr);
    return;
  }
  auto texts = std::make_shared<std::vector<std::string>>();  // drawn since the last change of the screen
  auto log_read = std::make_shared<size_t>(0);                 // bytes of the run log already shown
  receiver.trace().SetListener([&receiver, out, progress_stream, progress_shown, texts,
                                log_read](const TraceEntry &e) {
    std::vector<std::pair<const char *, std::string>> lines;
    switch(e.kind)
    {
      case TraceKind::kShell: lines.emplace_back("command", e.text); break;
      case TraceKind::kNetwork: lines.emplace_back("network", e.text); break;
      case TraceKind::kEvent: lines.emplace_back("event", e.text); break;
      case TraceKind::kSystem: lines.emplace_back("system", e.text); break;
      case TraceKind::kPrint: lines.emplace_back("print", e.text); break;
      case TraceKind::kTerminal: lines.emplace_back("terminal", e.text); break;
      case TraceKind::kLoader:
        // The plug-in's own lookups of firmware objects are routine; failures are not.
        if(e.text != "dlopen(NULL)") lines.emplace_back("loader", e.text);
        break;
      case TraceKind::kOsd:
      {
        size_t quote = e.text.find(") \"");
        if(e.text.rfind("TAP_Osd_PutS(", 0) == 0 && quote != std::string::npos)
          texts->push_back(e.text.substr(quote + 2));
        else if(e.text.rfind("TAP_Osd_Sync -> ", 0) == 0)
        {
          std::string line = e.text.substr(16);
          for(const std::string &t : *texts) line += "  " + Latin1ToUtf8(t);
          texts->clear();
          lines.emplace_back("screen", line);
        }
        break;
      }
      case TraceKind::kDisk:
      {
        // Each line of the run log, as the plug-in appends it.
        if(e.text.rfind(std::string("TAP_Hdd_Fwrite(") + kRunLogTap + ",", 0) != 0) break;
        std::string host;
        if(!receiver.disk().HostPath(kRunLog, "/", &host)) break;
        std::istringstream added(ReadAddedText(host, log_read.get()));
        for(std::string line; std::getline(added, line);)
        {
          while(!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
          size_t arrow = line.find(" -> ");
          lines.emplace_back("log", Latin1ToUtf8(arrow == std::string::npos ? line : line.substr(arrow + 4)));
        }
        break;
      }
      default: break;  // tools (their commands are shown), memory, /proc files
    }
    if(lines.empty()) return;
    if(progress_shown != nullptr && *progress_shown)
    {
      std::fputs("\r\033[K", progress_stream);
      std::fflush(progress_stream);
      *progress_shown = false;
    }
    for(const auto &[kind, text] : lines)
      std::fprintf(out, "%s  %-8s %s\n", receiver.clock().LocalText().c_str(), kind, text.c_str());
    std::fflush(out);
  });
}

void KeepRunTrace(Receiver *receiver)
{
  // The screen's syncs name the screenshots the report shows: a few hundred a day.
  receiver->trace().KeepOnly({TraceKind::kShell, TraceKind::kTool, TraceKind::kNetwork, TraceKind::kSystem, TraceKind::kOsd});
}

bool WriteRunOutputs(const Scenario &scenario, Receiver &receiver, const TimerTableImage &timers_before,
                     int main_result, const std::string &folder, std::string *error)
{
  std::string hd = receiver.disk().host_root() + "/mnt/hd";
  std::error_code ec;
  for(const char *log : {kRunLog, kLibraryLog})
  {
    std::string host = receiver.disk().host_root() + log;
    if(fs::exists(host)) fs::copy_file(host, folder + "/" + fs::path(log).filename().string(), ec);
    if(ec)
    {
      *error = "cannot copy " + std::string(log) + ": " + ec.message();
      return false;
    }
  }
  uint32_t start = receiver.config().start_tick;

  std::ofstream commands(folder + "/commands.txt");
  for(const TraceEntry &e : receiver.trace().entries())
    if(e.kind == TraceKind::kShell) commands << e.tick << "  " << e.text << "\n";

  std::ofstream tree(folder + "/tree.txt");
  tree << "mount table:\n";
  for(const MountEntry &m : receiver.disk().mounts()) tree << "  " << m.source << " on " << m.point << " type " << m.type << "\n";
  tree << "/mnt/hd:\n";
  std::vector<std::string> paths;
  for(const auto &e : fs::recursive_directory_iterator(hd))
    paths.push_back(fs::relative(e.path(), hd).string() + (e.is_directory() ? "/" : ""));
  std::sort(paths.begin(), paths.end());
  for(const std::string &p : paths) tree << "  " << p << "\n";

  TimerTableImage timers_after = ReadTimerTable(scenario, receiver);
  std::string timer_lines = DescribeTimers(timers_before, timers_after);
  std::ofstream timers(folder + "/timers.txt");
  if(scenario.timers.empty())
    timers << "no recording timers\n";
  else
    timers << "timer table: " << scenario.timers.size() << " timers in " << scenario.timer_layout.size << "-byte "
           << scenario.timer_layout.name << " slots, pre-recording padding " << scenario.eeprom_pre_padding
           << " min\n"
           << timer_lines;

  // Per server, from the network's record and the commands: when it was woken
  // and first answered, how often its exports were mounted and unmounted,
  // when it was first mounted and in how many attempts.
  std::ofstream summary(folder + "/summary.txt");
  summary << "server        address           woken  answered  mounts  unmounts  mounted  tries  pings  wake-ups\n";
  for(const NasConfig &nas : receiver.network().servers())
  {
    const NasState *state = receiver.network().State(nas.name);
    int mounts = 0, unmounts = 0;
    std::string mounted_at = "-";
    std::set<std::string> points;  // where this server's exports are mounted now
    std::set<uint32_t> attempts;   // ticks at which the plug-in asked it for mounts
    for(const TraceEntry &e : receiver.trace().entries())
    {
      const std::string &t = e.text;
      if(e.kind == TraceKind::kTool && t.rfind("mount " + nas.address + ":", 0) == 0) attempts.insert(e.tick);
      if(e.kind != TraceKind::kNetwork) continue;
      if(t.rfind("mounted " + nas.address + ":", 0) == 0)
      {
        if(mounts++ == 0) mounted_at = Seconds(e.tick, start);
        points.insert(t.substr(t.rfind(" on ") + 4));
      }
      else if(t.rfind("unmounted ", 0) == 0 && points.erase(t.substr(10)) != 0)
        ++unmounts;
    }
    char line[320];
    std::snprintf(line, sizeof(line), "%-13s %-16s %6s %9s %7d %9d %8s %6zu %6d %9d\n", nas.name.c_str(),
                  nas.address.c_str(),
                  state->woken ? (std::to_string(static_cast<int>(state->woken_at)) + "s").c_str() : "-",
                  state->first_answer >= 0 ? (std::to_string(static_cast<int>(state->first_answer)) + "s").c_str() : "-",
                  mounts, unmounts, mounted_at.c_str(), attempts.size(), state->pings, state->wake_packets);
    summary << line;
  }
  std::string ended = "was stopped at the end of the run";
  for(const TraceEntry &e : receiver.trace().entries())
    if(e.kind == TraceKind::kSystem && e.text == "TAP_Exit") ended = "exited (TAP_Exit) after " + Seconds(e.tick, start);
  if(!receiver.ended()) ended = "was still running at the end of the run";
  summary << "plug-in: TAP_Main returned " << main_result << ", " << ended << "\n";
  if(!scenario.timers.empty()) summary << "timers:\n" << timer_lines;
  if(!commands || !tree || !timers || !summary)
  {
    *error = "cannot write the output files in " + folder;
    return false;
  }
  return true;
}

int RunScenarioFile(const RunOptions &options, std::FILE *timeline, std::FILE *errors)
{
  Scenario scenario;
  std::string error;
  // Everything is read and checked before anything is written.
  if(!LoadScenario(options.scenario, &scenario, &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 2;
  }
  fs::path out = fs::absolute(options.out.empty() ? "out/" + scenario.name : options.out).lexically_normal();
  if(out.filename().empty()) out = out.parent_path();
  std::error_code ec;
  fs::create_directories(out.parent_path(), ec);
  std::string pattern = (out.parent_path() / ("." + out.filename().string() + ".partial-XXXXXX")).string();
  if(ec || mkdtemp(pattern.data()) == nullptr)
  {
    std::fprintf(errors, "brimvale-sim: cannot make a folder next to %s\n", out.string().c_str());
    return 1;
  }
  FolderGuard guard(pattern);
  const std::string work = pattern;
  fs::create_directories(work + "/screenshots", ec);
  scenario.config.root = work + "/root";
  scenario.config.firmware_dir = options.firmware_dir;
  scenario.config.screenshot_dir = work + "/screenshots";

  int main_result = 0;
  {
    if(!PrepareNetwork(&scenario, work + "/nas", &error))
    {
      std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
      return 1;
    }
    Receiver receiver(scenario.config);
    KeepRunTrace(&receiver);
    bool progress_shown = false;
    PrintTimeline(receiver, options.quiet ? nullptr : timeline, errors, &progress_shown);
    if(!receiver.Boot(&error) || !PrepareReceiver(scenario, &receiver, &error) || !receiver.Load(options.tap, &error))
    {
      std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
      return 1;
    }
    TimerTableImage timers_before = ReadTimerTable(scenario, receiver);
    if(!options.quiet)
      std::fprintf(timeline, "scenario %s: %zu servers, %zu timers, %.0f s from %s\n", scenario.name.c_str(),
                   scenario.servers.size(), scenario.timers.size(), scenario.duration_seconds,
                   receiver.clock().LocalText().c_str());

    int shown_percent = -1;
    auto progress = [&](uint64_t done, uint64_t total) {
      if(!options.progress || total == 0) return;
      int percent = static_cast<int>(done * 100 / total);
      if(percent == shown_percent && progress_shown) return;
      shown_percent = percent;
      std::fprintf(errors, "\r\033[Kvirtual time %s: %llu of %llu s, %d%%", receiver.clock().LocalText().c_str(),
                   static_cast<unsigned long long>(done / 100), static_cast<unsigned long long>(total / 100), percent);
      std::fflush(errors);
      progress_shown = true;
    };
    main_result = PlayScenario(scenario, &receiver, progress);
    if(progress_shown)
    {
      std::fputs("\r\033[K", errors);
      std::fflush(errors);
    }
    receiver.trace().SetListener(nullptr);
    if(!WriteRunOutputs(scenario, receiver, timers_before, main_result, work, &error) ||
       (options.report && !WriteRunReport(scenario, receiver, timers_before, main_result, work, &error)))
    {
      std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
      return 1;
    }
  }
  if(!PutInPlace(work, out, &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 1;
  }
  guard.Release();

  std::string shown = options.out.empty() ? "out/" + scenario.name : options.out;
  std::fprintf(timeline, "\n%s", ReadText((out / "summary.txt").string()).c_str());
  if(fs::exists(out / "Brimvale.log"))
    std::fprintf(timeline, "run log: %s/Brimvale.log\n", shown.c_str());
  else
    std::fprintf(timeline, "run log: none (Logfile is not 1)\n");
  std::fprintf(timeline, "commands: %s/commands.txt, folders and mounts: %s/tree.txt\n", shown.c_str(), shown.c_str());
  std::fprintf(timeline, "timers: %s/timers.txt\nsummary: %s/summary.txt\nscreenshots: %s/screenshots\n",
               shown.c_str(), shown.c_str(), shown.c_str());
  if(options.report) std::fprintf(timeline, "report (open it in a browser): %s/report.html\n", shown.c_str());
  return 0;
}

}  // namespace sim
