// `brimvale-sim run`: the scenario and the plug-in file checked, the output
// folder prepared, the run played with its timeline and progress line, and
// its outputs put in place; the settings check it warns with before the run.
#include "run.h"

#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "check.h"
#include "../report/console_timeline.h"
#include "../report/output_folder.h"
#include "../receiver/latin1.h"
#include "../receiver/pc_file.h"
#include "../receiver/receiver.h"
#include "../report/run_outputs.h"
#include "../report/run_record.h"
#include "../report/run_report.h"
#include "../scenario/scenario.h"
#include "../scenario/settings_folder.h"
#include "../firmware/timer_table.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

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

// Where a run puts its outputs: the output folder, and the folders it is
// built in meanwhile.
struct RunTarget {
  OutputFolder target;
  std::string shown;  // the output folder as the owner gave it (or the default)
  fs::path out;       // the output folder, absolute
};
struct RunFolders : RunTarget {
  explicit RunFolders(const RunTarget &target) : RunTarget(target) {}
  ScratchFolder work_folder;     // the output folder being built
  ScratchFolder scratch_folder;  // the memory disk, when there is one
  std::string work, scratch;
  std::string disks;  // where the receiver's and the servers' disks are
};

// Everything is read and checked before anything is written: the scenario,
// the plug-in file and the output folder. 0, or the exit status.
int ReadInputs(const RunOptions &options, Scenario *scenario, std::string *tap, RunTarget *folders,
               std::FILE *errors)
{
  std::string error;
  if(!LoadScenario(options.scenario, scenario, &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 2;
  }
  if(!PluginFile(options.tap, tap, &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 1;
  }
  folders->shown = options.out.empty() ? "out/" + SafeName(scenario->name) : options.out;
  std::error_code ec;
  folders->out = fs::absolute(folders->shown, ec).lexically_normal();
  if(folders->out.filename().empty()) folders->out = folders->out.parent_path();
  // Only the default folder is bound to its scenario: two scenario names
  // may differ only in what a folder name cannot hold.
  folders->target = OutputFolder{folders->out, folders->shown, fs::path(options.scenario).filename().string(),
                                 options.out.empty()};
  if(std::string problem = TargetProblem(folders->target); !problem.empty())
  {
    std::fprintf(errors, "brimvale-sim: %s\n", problem.c_str());
    return 2;
  }
  return 0;
}

// The hidden folder the output is built in, and the memory disk the
// receiver's and the servers' disks go on when there is room. 0, or the
// exit status.
int PrepareOutputFolder(const RunOptions &options, Scenario *scenario, RunFolders *folders, std::FILE *errors)
{
  if(std::string problem = MakeWorkFolder(folders->target, &folders->work_folder); !problem.empty())
  {
    std::fprintf(errors, "brimvale-sim: %s\n", problem.c_str());
    return 2;
  }
  folders->work = folders->work_folder.path();
  WarnBeforeRun(*scenario, errors);
  std::error_code ec;
  fs::create_directories(folders->work + "/screenshots", ec);
  MemoryScratch(scenario->duration_seconds, &folders->scratch_folder);
  folders->scratch = folders->scratch_folder.path();
  folders->disks = folders->scratch.empty() ? folders->work : folders->scratch;
  scenario->config.root = folders->disks + "/root";
  scenario->config.firmware_dir = options.firmware_dir;
  scenario->config.screenshot_dir = folders->work + "/screenshots";
  return 0;
}

// The progress line on a terminal: virtual time and percentage, rewritten
// in place when the percentage changes. It also hears a stop signal.
class ProgressLine {
 public:
  ProgressLine(const RunOptions &options, Receiver &receiver, std::FILE *timeline, std::FILE *errors)
      : options_(options), receiver_(receiver), timeline_(timeline), errors_(errors) {}

  bool Update(uint64_t done, uint64_t total)
  {
    if(StopSignals::Requested()) return false;
    if(!options_.progress || total == 0) return true;
    int percent = static_cast<int>(done * 100 / total);
    if(percent == shown_percent_ && shown) return true;
    shown_percent_ = percent;
    // The timeline's lines come before the progress line that follows them.
    if(!options_.quiet) std::fflush(timeline_);
    std::fprintf(errors_, "\r\033[Kvirtual time %s: %llu of %llu s, %d%%", receiver_.clock().LocalText().c_str(),
                 static_cast<unsigned long long>(done / 100), static_cast<unsigned long long>(total / 100), percent);
    std::fflush(errors_);
    shown = true;
    return true;
  }

  // After the run: the timeline written out, the progress line cleared.
  void End()
  {
    if(!options_.quiet) std::fflush(timeline_);
    if(shown)
    {
      std::fputs("\r\033[K", errors_);
      std::fflush(errors_);
    }
  }

  bool shown = false;  // the timeline clears it before its next lines

 private:
  const RunOptions &options_;
  Receiver &receiver_;
  std::FILE *timeline_;
  std::FILE *errors_;
  int shown_percent_ = -1;
};

// Builds the receiver, plays the scenario on it with the plug-in and writes
// the run's outputs into the work folder. 0, or the exit status.
int BootAndPlay(const RunOptions &options, Scenario &scenario, const std::string &tap, const RunFolders &folders,
                std::FILE *timeline, std::FILE *errors)
{
  std::string error;
  if(!PrepareNetwork(&scenario, folders.disks + "/nas", &error))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 1;
  }
  Receiver receiver(scenario.config);
  KeepRunTrace(&receiver);
  ProgressLine progress(options, receiver, timeline, errors);
  PrintTimeline(receiver, options.quiet ? nullptr : timeline, errors, &progress.shown);
  // After the timeline: without one, PrintTimeline ends every watch of the disk.
  RunRecord record(receiver, folders.work, TimelineStart(scenario, receiver));
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
  int main_result = PlayScenario(scenario, &receiver,
                                 [&progress](uint64_t done, uint64_t total) { return progress.Update(done, total); });
  progress.End();
  PrintTimeline(receiver, nullptr, nullptr, nullptr);
  if(!receiver.disk().failure().empty())
  {
    // The run stopped there: what it had written is incomplete.
    std::fprintf(errors,
                 "brimvale-sim: the PC's folder %s, which held the receiver's disks, failed a write at %s on "
                 "the receiver's clock (%s): the run was stopped and nothing of it kept; free room in %s and "
                 "run again\n",
                 folders.disks.c_str(), receiver.clock().LocalText().c_str(), receiver.disk().failure().c_str(),
                 fs::path(folders.disks).parent_path().c_str());
    return 1;
  }
  if(!StopSignals::Requested() &&
     (!WriteRunOutputs(scenario, receiver, record, timers_before, main_result, folders.work, &error) ||
      (options.report && !WriteRunReport(scenario, receiver, record, timers_before, main_result, folders.work, &error))))
  {
    std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The disks from the memory disk into the work folder, once the receiver is
// gone and every file it held is closed. 0, or the exit status.
int CopyDisksOut(const RunFolders &folders, std::FILE *errors)
{
  if(folders.scratch.empty()) return 0;
  for(const char *disk : {"root", "nas"})
  {
    // A run that ended before its network was set up has no servers' disk.
    if(!fs::exists(folders.scratch + "/" + disk)) continue;
    std::error_code ec;
    fs::copy(folders.scratch + "/" + disk, folders.work + "/" + disk,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if(ec)
    {
      std::fprintf(errors, "brimvale-sim: cannot copy the %s disk into %s: %s\n",
                   std::string(disk) == "root" ? "receiver's" : "servers'", folders.work.c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  return 0;
}

// The summary and where each output is, after the timeline.
void PrintWhereOutputsAre(const RunOptions &options, const RunFolders &folders, std::FILE *timeline)
{
  const char *shown = folders.shown.c_str();
  std::string summary;
  ReadPcFile((folders.out / "summary.txt").string(), &summary);  // the run just wrote it
  std::fprintf(timeline, "\n%s", summary.c_str());
  if(fs::exists(folders.out / LOG_FILE_NAME))
    std::fprintf(timeline, "run log: %s/" LOG_FILE_NAME "\n", shown);
  else
    std::fprintf(timeline, "run log: none (Logfile is not 1)\n");
  std::fprintf(timeline, "commands: %s/commands.txt, folders and mounts: %s/tree.txt\n", shown, shown);
  std::fprintf(timeline, "timers: %s/timers.txt\nsummary: %s/summary.txt\nscreenshots: %s/screenshots\n", shown,
               shown, shown);
  if(options.report) std::fprintf(timeline, "report (open it in a browser): %s/report.html\n", shown);
  std::fflush(timeline);
}

}  // namespace

int RunScenarioFile(const RunOptions &options, std::FILE *timeline, std::FILE *errors)
{
  Scenario scenario;
  std::string tap;
  RunTarget target;
  if(int status = ReadInputs(options, &scenario, &tap, &target, errors); status != 0) return status;

  StopSignals signals;
  // Removed, with the memory disk, unless the run puts it in place.
  RunFolders folders(target);
  if(int status = PrepareOutputFolder(options, &scenario, &folders, errors); status != 0) return status;
  if(int status = BootAndPlay(options, scenario, tap, folders, timeline, errors); status != 0) return status;
  if(!StopSignals::Requested())
  {
    if(int status = CopyDisksOut(folders, errors); status != 0) return status;
    std::string error;
    if(int refused = PutInPlace(&folders.work_folder, folders.target, &error); refused != 0)
    {
      std::fprintf(errors, "brimvale-sim: %s\n", error.c_str());
      return refused;
    }
  }
  if(StopSignals::Requested())
  {
    // The scratch folders go: the partial folder and the memory disk.
    folders.work_folder.Remove();
    folders.scratch_folder.Remove();
    signals.EndAsAsked();
    return 1;
  }
  PrintWhereOutputsAre(options, folders, timeline);
  signals.EndAsAsked();
  return 0;
}

}  // namespace sim
