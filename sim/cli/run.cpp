#include "run.h"

#include <elf.h>
#include <linux/magic.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "check.h"
#include "../report/output_folder.h"
#include "../receiver/latin1.h"
#include "../receiver/receiver.h"
#include "../report/run_record.h"
#include "../report/run_report.h"
#include "../scenario/scenario.h"
#include "../scenario/settings_folder.h"
#include "../firmware/timer_table.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

const char *const kRunLog = "/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log";
const char *const kLibraryLog = "/mnt/hd/ProgramFiles/Settings/SupportLib.log";

// Deep enough for any tree the plug-in makes; a bind mount that shows a
// folder inside itself stops here.
constexpr int kMaxTreeDepth = 32;

// The signal that asked the run to end, 0 while none has.
volatile sig_atomic_t g_stop_signal = 0;

extern "C" void OnStopSignal(int signal) { g_stop_signal = signal; }

// Turns Ctrl-C, SIGTERM and a closed pipe into a request to stop, so that
// the half-written output folder can be removed before the program ends.
class StopSignals {
 public:
  StopSignals()
  {
    g_stop_signal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for(size_t k = 0; k < kCount; ++k) sigaction(kSignals[k], &action, &previous_[k]);
  }
  ~StopSignals()
  {
    for(size_t k = 0; k < kCount; ++k) sigaction(kSignals[k], &previous_[k], nullptr);
  }
  static bool Requested() { return g_stop_signal != 0; }
  // Ends the program as the signal would have, once everything is cleaned
  // up: the caller's shell sees the conventional status (130 for Ctrl-C).
  void EndAsAsked()
  {
    int signal = g_stop_signal;
    if(signal == 0) return;
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
  }

 private:
  static constexpr size_t kCount = 3;
  static constexpr int kSignals[kCount] = {SIGINT, SIGTERM, SIGPIPE};
  struct sigaction previous_[kCount];
};

std::string ReadText(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A time of the summary: "20:01:16", or "2026-12-09 00:00:05" on a later day.
std::string SummaryTime(const ReceiverConfig &config, uint32_t tick)
{
  std::string full = VirtualTime(config, tick);
  std::string first = VirtualTime(config, config.start_tick);
  full.resize(full.size() - 3);  // whole seconds
  return full.compare(0, 10, first, 0, 10) == 0 ? full.substr(11) : full;
}

// The machine this program runs on, as an ELF header names it.
constexpr uint16_t kOwnMachine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__i386__)
    EM_386;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__mips__)
    EM_MIPS;
#else
    EM_NONE;
#endif
constexpr unsigned char kOwnClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kOwnData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

// The plug-in as a path dlopen takes literally (never a name it would look
// up in the library search path), and only when it is a shared object this
// program can load; else why not.
bool PluginFile(const std::string &given, std::string *path, std::string *error)
{
  std::error_code ec;
  fs::path absolute = fs::absolute(given, ec);
  struct stat st;
  if(given.empty() || ec || stat(absolute.c_str(), &st) != 0)
  {
    *error = "cannot load " + given + ": " + (given.empty() ? "no file named" : std::strerror(errno));
    return false;
  }
  if(!S_ISREG(st.st_mode))
  {
    *error = "cannot load " + given + ": not a file";
    return false;
  }
  unsigned char header[EI_NIDENT + 4] = {};
  int fd = open(absolute.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  ssize_t n = fd < 0 ? -1 : read(fd, header, sizeof(header));
  if(fd >= 0) close(fd);
  if(n < 0)
  {
    *error = "cannot load " + given + ": " + std::strerror(errno);
    return false;
  }
  std::string what;
  uint16_t type = 0, machine = 0;
  if(n < static_cast<ssize_t>(sizeof(header)) || std::memcmp(header, ELFMAG, SELFMAG) != 0)
    what = n == 0 ? "an empty file" : "not a shared object (no ELF header)";
  else
  {
    bool little = header[EI_DATA] == ELFDATA2LSB;
    type = little ? static_cast<uint16_t>(header[16] | header[17] << 8) : static_cast<uint16_t>(header[16] << 8 | header[17]);
    machine = little ? static_cast<uint16_t>(header[18] | header[19] << 8) : static_cast<uint16_t>(header[18] << 8 | header[19]);
    std::string bits = header[EI_CLASS] == ELFCLASS64 ? "64-bit" : "32-bit";
    std::string order = little ? "little-endian" : "big-endian";
    std::string cpu = machine == EM_MIPS ? "MIPS" : machine == EM_X86_64 ? "x86-64" : machine == EM_386 ? "x86"
                      : machine == EM_AARCH64 ? "AArch64" : machine == EM_ARM ? "ARM"
                                              : "machine " + std::to_string(machine);
    if(type != ET_DYN)
      what = "an ELF file but not a shared object (" + std::string(type == ET_EXEC ? "a program" : type == ET_REL ? "an object file" : "ELF type " + std::to_string(type)) + ")";
    else if(machine != kOwnMachine || header[EI_CLASS] != kOwnClass || header[EI_DATA] != kOwnData)
      what = "a shared object for " + bits + " " + order + " " + cpu +
             ", another CPU than this program's (build the plug-in for it, or run this program where it runs)";
  }
  if(!what.empty())
  {
    *error = "cannot load " + given + ": it is " + what;
    return false;
  }
  *path = absolute.lexically_normal().string();
  return true;
}

// What `check` reports on the run's settings files, found in a process of
// its own: the check starts a stand-in receiver and sets the plug-in code's
// state, and neither may be left for the run's receiver to meet.
bool CheckRunSettings(const Scenario &scenario, SettingsCheck *result)
{
  int pipe_fds[2];
  if(pipe(pipe_fds) != 0) return false;
  std::fflush(nullptr);
  pid_t child = fork();
  if(child < 0)
  {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return false;
  }
  if(child == 0)
  {
    close(pipe_fds[0]);
    SettingsFolder files;
    for(const auto &[name, text] : scenario.settings)
    {
      files.files[name] = text;
      files.names.insert(name);
    }
    SettingsCheck check = CheckSettingsFiles(scenario.path + " [settings]", files);
    std::string out;
    auto put = [&out](char kind, std::string text) {
      for(char &c : text)
        if(c == '\n') c = ' ';
      out += std::string(1, kind) + text + "\n";
    };
    for(const std::string &p : check.problems) put('P', p);
    for(const std::string &w : check.warnings) put('W', w);
    for(const std::string &a : check.addresses) put('A', a);
    for(size_t done = 0; done < out.size();)
    {
      ssize_t n = write(pipe_fds[1], out.data() + done, out.size() - done);
      if(n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  for(ssize_t n; (n = read(pipe_fds[0], buffer, sizeof(buffer))) != 0;)
  {
    if(n < 0 && errno == EINTR) continue;
    if(n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while(waitpid(child, &status, 0) < 0 && errno == EINTR)
  {
  }
  if(!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  std::istringstream lines(text);
  for(std::string line; std::getline(lines, line);)
  {
    if(line.empty()) continue;
    std::string value = line.substr(1);
    if(line[0] == 'P') result->problems.push_back(value);
    if(line[0] == 'W') result->warnings.push_back(value);
    if(line[0] == 'A') result->addresses.push_back(value);
  }
  return true;
}

// Warnings before the run: a scenario that runs but was probably not meant
// so, what `check` would report on its settings, and server addresses the
// simulated network does not know (they never answer).
void WarnBeforeRun(const Scenario &scenario, std::FILE *errors)
{
  for(const std::string &w : scenario.warnings) std::fprintf(errors, "brimvale-sim: warning: %s\n", w.c_str());
  SettingsCheck check;
  if(!CheckRunSettings(scenario, &check))
  {
    std::fprintf(errors, "brimvale-sim: warning: the settings could not be checked\n");
    return;
  }
  for(const std::string &w : check.warnings) std::fprintf(errors, "brimvale-sim: warning: settings: %s\n", w.c_str());
  for(const std::string &p : check.problems) std::fprintf(errors, "brimvale-sim: warning: settings: %s\n", p.c_str());
  for(size_t k = 0; k < check.addresses.size(); ++k)
  {
    const std::string &address = check.addresses[k];
    bool known = address.empty() || address == kInternetProbe;
    for(const ScenarioServer &server : scenario.servers) known = known || server.nas.address == address;
    if(!known)
      std::fprintf(errors,
                   "brimvale-sim: warning: server %zu's address %s is no [[server]] of the scenario: nothing "
                   "answers there\n",
                   k + 1, Latin1ToUtf8(address).c_str());
  }
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

}  // namespace

void PrintTimeline(Receiver &receiver, std::FILE *out, std::FILE *progress_stream, bool *progress_shown)
{
  if(out == nullptr)
  {
    receiver.trace().SetListener(nullptr);
    receiver.disk().WatchWrites("", nullptr);
    return;
  }
  using Lines = std::vector<std::pair<const char *, std::string>>;
  auto last_flush_ms = std::make_shared<int64_t>(0);
  auto print = [&receiver, out, progress_stream, progress_shown, last_flush_ms](const Lines &lines) {
    if(lines.empty()) return;
    if(progress_shown != nullptr && *progress_shown)
    {
      std::fputs("\r\033[K", progress_stream);
      std::fflush(progress_stream);
      *progress_shown = false;
    }
    for(const auto &[kind, text] : lines)
      std::fprintf(out, "%s  %-8s %s\n", receiver.clock().LocalText().c_str(), kind, text.c_str());
    // Out ten times a second: a day prints 130,000 lines, and a write each
    // would cost more than the run. The progress line and the end of the
    // run write out the rest.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    int64_t ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    if(ms - *last_flush_ms >= 100)
    {
      std::fflush(out);
      *last_flush_ms = ms;
    }
  };

  // Each line of the run log, as the plug-in writes it.
  std::string log_host;
  if(receiver.disk().HostPath(kRunLog, "/", &log_host))
    receiver.disk().WatchWrites(log_host, [print](const char *bytes, size_t n) {
      Lines lines;
      std::istringstream added(std::string(bytes, n));
      for(std::string line; std::getline(added, line);)
      {
        while(!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        size_t arrow = line.find(" -> ");
        lines.emplace_back("log", Latin1ToUtf8(arrow == std::string::npos ? line : line.substr(arrow + 4)));
      }
      print(lines);
    });

  auto texts = std::make_shared<std::vector<std::string>>();  // drawn since the last change of the screen
  // Disk calls and memory are not shown: building their entries would cost
  // more than the rest of the run.
  receiver.trace().ListenOnly({TraceKind::kShell, TraceKind::kOsd, TraceKind::kSystem, TraceKind::kPrint,
                               TraceKind::kTerminal, TraceKind::kLoader, TraceKind::kEvent, TraceKind::kNetwork});
  receiver.trace().SetListener([print, texts](const TraceEntry &e) {
    Lines lines;
    switch(e.kind)
    {
      case TraceKind::kShell:
        lines.emplace_back("command", e.text + (e.error.empty() ? "" : " (" + Latin1ToUtf8(e.error) + ")"));
        break;
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
      default: break;
    }
    print(lines);
  });
}

void KeepRunTrace(Receiver *receiver)
{
  // A RunRecord takes what the outputs need as it comes.
  receiver->trace().KeepOnly({});
}

bool WriteRunOutputs(const Scenario &scenario, Receiver &receiver, RunRecord &record,
                     const TimerTableImage &timers_before, int main_result, const std::string &folder,
                     std::string *error)
{
  if(!record.End())
  {
    *error = "cannot write " + folder + "/commands.txt";
    return false;
  }
  std::error_code ec;
  for(const char *log : {kRunLog, kOldRunLogPath, kLibraryLog})
  {
    std::string host = receiver.disk().host_root() + log;
    if(fs::exists(host)) fs::copy_file(host, folder + "/" + fs::path(log).filename().string(), ec);
    if(ec)
    {
      *error = "cannot copy " + std::string(log) + ": " + ec.message();
      return false;
    }
  }

  const ReceiverConfig &config = receiver.config();
  // The tree as the receiver sees it at the end: with mounts left in place
  // (stop = false), their contents, not the disk underneath.
  std::ofstream tree(folder + "/tree.txt");
  tree << "mount table:\n";
  for(const MountEntry &m : receiver.disk().mounts()) tree << "  " << m.source << " on " << m.point << " type " << m.type << "\n";
  tree << "/mnt/hd, as the receiver sees it:\n";
  std::vector<std::string> paths;
  ReceiverTree(receiver, kHddMount, "", 0, &paths);
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

  // Per server, from the network's record and the commands. Times are the
  // receiver's local time (the date only when it is not the first day).
  std::ofstream summary(folder + "/summary.txt");
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
  if(!tree || !timers || !summary)
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
  std::string tap;
  if(!PluginFile(options.tap, &tap, &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 1;
  }
  std::string shown = options.out.empty() ? "out/" + SafeName(scenario.name) : options.out;
  std::error_code ec;
  fs::path out = fs::absolute(shown, ec).lexically_normal();
  if(out.filename().empty()) out = out.parent_path();
  // Only the default folder is bound to its scenario: two scenario names
  // may differ only in what a folder name cannot hold.
  const OutputFolder target{out, shown, fs::path(options.scenario).filename().string(), options.out.empty()};
  if(std::string problem = TargetProblem(target); !problem.empty())
  {
    std::fprintf(errors, "brimvale-sim: %s\n", problem.c_str());
    return 2;
  }

  StopSignals signals;
  int status = 0;
  {
    // Removed, with the memory disk, unless the run puts it in place.
    ScratchFolder work_folder;
    if(std::string problem = MakeWorkFolder(target, &work_folder); !problem.empty())
    {
      std::fprintf(errors, "brimvale-sim: %s\n", problem.c_str());
      return 2;
    }
    const std::string work = work_folder.path();
    WarnBeforeRun(scenario, errors);
    fs::create_directories(work + "/screenshots", ec);
    ScratchFolder scratch_folder;
    MemoryScratch(scenario.duration_seconds, &scratch_folder);
    const std::string scratch = scratch_folder.path();
    const std::string disks = scratch.empty() ? work : scratch;
    scenario.config.root = disks + "/root";
    scenario.config.firmware_dir = options.firmware_dir;
    scenario.config.screenshot_dir = work + "/screenshots";

    int main_result = 0;
    {
      if(!PrepareNetwork(&scenario, disks + "/nas", &error))
      {
        std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
        return 1;
      }
      Receiver receiver(scenario.config);
      KeepRunTrace(&receiver);
      bool progress_shown = false;
      PrintTimeline(receiver, options.quiet ? nullptr : timeline, errors, &progress_shown);
      // After the timeline: without one, PrintTimeline ends every watch of the disk.
      RunRecord record(receiver, work, TimelineStart(scenario, receiver));
      if(!receiver.Boot(&error) || !PrepareReceiver(scenario, &receiver, &error) || !receiver.Load(tap, &error))
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
        if(StopSignals::Requested()) return false;
        if(!options.progress || total == 0) return true;
        int percent = static_cast<int>(done * 100 / total);
        if(percent == shown_percent && progress_shown) return true;
        shown_percent = percent;
        // The timeline's lines come before the progress line that follows them.
        if(!options.quiet) std::fflush(timeline);
        std::fprintf(errors, "\r\033[Kvirtual time %s: %llu of %llu s, %d%%", receiver.clock().LocalText().c_str(),
                     static_cast<unsigned long long>(done / 100), static_cast<unsigned long long>(total / 100),
                     percent);
        std::fflush(errors);
        progress_shown = true;
        return true;
      };
      main_result = PlayScenario(scenario, &receiver, progress);
      if(!options.quiet) std::fflush(timeline);
      if(progress_shown)
      {
        std::fputs("\r\033[K", errors);
        std::fflush(errors);
      }
      PrintTimeline(receiver, nullptr, nullptr, nullptr);
      if(!receiver.disk().failure().empty())
      {
        // The run stopped there: what it had written is incomplete.
        std::fprintf(errors,
                     "brimvale-sim: the PC's folder %s, which held the receiver's disks, failed a write at %s on "
                     "the receiver's clock (%s): the run was stopped and nothing of it kept; free room in %s and "
                     "run again\n",
                     disks.c_str(), receiver.clock().LocalText().c_str(), receiver.disk().failure().c_str(),
                     fs::path(disks).parent_path().c_str());
        return 1;
      }
      if(!StopSignals::Requested() &&
         (!WriteRunOutputs(scenario, receiver, record, timers_before, main_result, work, &error) ||
          (options.report && !WriteRunReport(scenario, receiver, record, timers_before, main_result, work, &error))))
      {
        std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
        return 1;
      }
    }
    // The receiver is gone: every file it held is closed.
    if(!scratch.empty() && !StopSignals::Requested())
      for(const char *disk : {"root", "nas"})
      {
        // A run that ended before its network was set up has no servers' disk.
        if(!fs::exists(scratch + "/" + disk)) continue;
        fs::copy(scratch + "/" + disk, work + "/" + disk,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        if(ec)
        {
          std::fprintf(errors, "brimvale-sim: cannot copy the %s disk into %s: %s\n",
                       std::string(disk) == "root" ? "receiver's" : "servers'", work.c_str(), ec.message().c_str());
          return 1;
        }
      }
    if(StopSignals::Requested())
      status = -1;  // the scratch folders go: the partial folder and the memory disk
    else if(int refused = PutInPlace(&work_folder, target, &error); refused != 0)
    {
      std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
      return refused;
    }
  }
  if(status < 0)
  {
    signals.EndAsAsked();
    return 1;
  }

  std::fprintf(timeline, "\n%s", ReadText((out / "summary.txt").string()).c_str());
  if(fs::exists(out / "Brimvale.log"))
    std::fprintf(timeline, "run log: %s/Brimvale.log\n", shown.c_str());
  else
    std::fprintf(timeline, "run log: none (Logfile is not 1)\n");
  std::fprintf(timeline, "commands: %s/commands.txt, folders and mounts: %s/tree.txt\n", shown.c_str(), shown.c_str());
  std::fprintf(timeline, "timers: %s/timers.txt\nsummary: %s/summary.txt\nscreenshots: %s/screenshots\n",
               shown.c_str(), shown.c_str(), shown.c_str());
  if(options.report) std::fprintf(timeline, "report (open it in a browser): %s/report.html\n", shown.c_str());
  std::fflush(timeline);
  signals.EndAsAsked();
  return 0;
}

}  // namespace sim
