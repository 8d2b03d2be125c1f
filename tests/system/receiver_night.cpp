// A night of the shipped Brimvale.tap on a real MIPS Linux: the emulator's
// receiver, built for mipsel and run as the guest machine's one program, with
// every command line through the guest's real /bin/sh (Debian's static
// busybox) against real NFS servers. The receiver's clock follows the wall
// clock here: a command that takes two seconds moves it two seconds.
//
// The machine around it (scripts/receiver-system.sh) reads the console: lines
// "@@ cut <address>" and "@@ restore <address>" ask it to take a server's link
// away and give it back; "CHECK ok" and "CHECK FAIL" lines are the verdicts,
// "@@ waits" the table of how long each command held the plug-in's call.
//
//   brimvale-receiver-night TAP FIRMWARE_DIR SERVER...   SERVER = index,address,name
//
// Server 1 holds the recording folder and sleeps until woken; the last server
// vanishes for a while and comes back.
#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/firmware/firmware_dat.h"
#include "sim/receiver/receiver.h"
#include "tests/support/host_files.h"

extern char **environ;

namespace {

using host_files::Count;
using host_files::ReadText;
using host_files::Tree;

namespace fs = std::filesystem;

const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/Brimvale";
const std::string kRunLog = kSettings + "/Logs/Brimvale.log";
const char *const kRoots[] = {"/MediaFiles", "/MP3Files", "/PhotoFiles", "/DataFiles"};
const char *const kRemoteKeys[] = {"Remotefolder MediaFiles", "Remotefolder MP3Files", "Remotefolder PhotoFiles",
                                   "Remotefolder DataFiles"};

using Clock = std::chrono::steady_clock;
const Clock::time_point g_start = Clock::now();
double Now() { return std::chrono::duration<double>(Clock::now() - g_start).count(); }

// ---- small helpers --------------------------------------------------------

struct MountLine {
  std::string source, point, type, options;
};

// The kernel's mount table; mount points with the octal escapes undone.
std::vector<MountLine> Mounts()
{
  std::vector<MountLine> mounts;
  std::istringstream table(ReadText("/proc/mounts"));
  for(std::string line; std::getline(table, line);)
  {
    std::istringstream fields(line);
    MountLine m;
    std::string raw;
    fields >> m.source >> raw >> m.type >> m.options;
    for(size_t k = 0; k < raw.size(); ++k)
      if(raw[k] == '\\' && k + 3 < raw.size())
      {
        m.point += static_cast<char>(std::stoi(raw.substr(k + 1, 3), nullptr, 8));
        k += 3;
      }
      else
        m.point += raw[k];
    mounts.push_back(m);
  }
  return mounts;
}

const MountLine *FindMount(const std::vector<MountLine> &mounts, const std::string &point)
{
  const MountLine *found = nullptr;  // the last one is on top
  for(const MountLine &m : mounts)
    if(m.point == point) found = &m;
  return found;
}

size_t MountsBelow(const std::string &prefix)
{
  size_t n = 0;
  for(const MountLine &m : Mounts())
    if(m.point.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

std::map<std::string, std::string> ReadIni(const std::string &path)
{
  std::map<std::string, std::string> keys;
  std::istringstream in(ReadText(path));
  for(std::string line; std::getline(in, line);)
  {
    if(!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if(eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

// The pid of a living process whose command line starts with `name`, or 0.
pid_t FindProcess(const std::string &name)
{
  for(const auto &entry : fs::directory_iterator("/proc"))
  {
    std::string pid = entry.path().filename().string();
    if(pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadText(entry.path().string() + "/stat");
    size_t paren = stat.rfind(')');
    if(paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z') continue;
    std::string cmdline = ReadText(entry.path().string() + "/cmdline");
    if(cmdline.substr(0, cmdline.find('\0')) == name) return static_cast<pid_t>(std::stol(pid));
  }
  return 0;
}

// Starts `sh -c command` as a child of its own (not through the plug-in).
pid_t Spawn(const std::string &command)
{
  std::string line = command;
  char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), line.data(), nullptr};
  pid_t child = 0;
  return posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? child : -1;
}

bool Answers(const std::string &address)
{
  pid_t child = Spawn("ping -c1 -W1 " + address + " >/dev/null 2>&1");
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- the night's record -----------------------------------------------------

struct Server {
  int index = 0;
  std::string address, name;
  std::map<std::string, std::string> ini;
  bool vanished = false;
};

std::vector<Server> g_servers;
sim::Receiver *g_receiver = nullptr;
int g_failures = 0;

void Say(const std::string &text) { std::printf("[%8.3f] %s\n", Now(), text.c_str()), std::fflush(stdout); }

void Check(bool ok, const std::string &what, const std::string &detail = "")
{
  std::printf("CHECK %s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  std::fflush(stdout);
  if(!ok) ++g_failures;
}

// How long each command held up the plug-in's call.
struct Wait {
  std::string kind, command;
  int code;
  double seconds;
};
std::vector<Wait> g_waits;

// Set at the start of each real command (see posix_spawn below).
double g_command_start = 0;
std::string g_command_kind;

// The longest calls of the plug-in's event handler and what ran in them.
struct HandlerCall {
  std::string event;
  double seconds = 0;
  std::vector<std::string> commands;
};
HandlerCall g_call, g_longest;
std::vector<HandlerCall> g_calls;  // the stop request's among them

// The receiver's clock follows the wall clock in whole ticks.
double g_synced = 0;
void SyncClock()
{
  double now = Now();
  auto ticks = static_cast<uint64_t>((now - g_synced) * 100);
  if(ticks == 0) return;
  g_receiver->clock().Advance(ticks);
  g_synced += static_cast<double>(ticks) / 100;
}

size_t g_log_printed = 0;
void PrintNewLog()
{
  std::string log = ReadText(kRunLog);
  if(log.size() < g_log_printed) g_log_printed = 0;
  size_t at = g_log_printed;
  for(size_t end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
  {
    std::string line = log.substr(at, end - at);
    if(!line.empty() && line.back() == '\r') line.pop_back();
    Say("log  " + line);
  }
  g_log_printed = at;
}

const Server *ServerOfMountPoint(const std::string &point)
{
  for(const Server &s : g_servers)
    for(const char *root : kRoots)
      if(point == "/mnt/hd" + std::string(root) + "/" + s.name) return &s;
  return point == "/mnt/hd/DataFiles" ? &g_servers.front() : nullptr;
}

// The kind of wait a command line stands for, decided as it starts (whether
// an unmount meets a mount, and of a server that is there or gone).
std::string KindOf(const std::string &line)
{
  auto starts = [&](const char *p) { return line.rfind(p, 0) == 0; };
  if(starts("ping ")) return "ping";
  if(line.find(" ether-wake ") != std::string::npos) return "ether-wake";
  if(starts("portmap")) return "portmap";
  if(starts("mount -o bind")) return "mount, bind";
  if(starts("mount ")) return "mount, NFS";
  if(starts("umount"))
  {
    size_t open = line.find('"'), close = line.rfind('"');
    std::string point = open != std::string::npos && close > open ? line.substr(open + 1, close - open - 1)
                                                                  : line.substr(line.rfind(' ') + 1);
    const MountLine *m = FindMount(Mounts(), point);
    if(m == nullptr) return "umount, nothing mounted";
    if(m->type != "nfs") return "umount, bind";
    const Server *s = ServerOfMountPoint(point);
    return s != nullptr && s->vanished ? "umount, NFS, server vanished" : "umount, NFS, server up";
  }
  return line.substr(0, line.find(' '));
}

void OnShellEntry(const sim::TraceEntry &entry)
{
  double seconds = Now() - g_command_start;
  SyncClock();  // the plug-in reads the tick after the command as a receiver would
  size_t arrow = entry.text.rfind("\" -> ");
  std::string line = entry.text.substr(1, arrow == std::string::npos ? std::string::npos : arrow - 1);
  int code = arrow == std::string::npos ? -1 : std::atoi(entry.text.c_str() + arrow + 5);
  std::string kind = g_command_kind;
  if(kind == "ping") kind = code == 0 ? "ping, answered" : "ping, unanswered";
  g_waits.push_back({kind, line, code, seconds});
  g_call.commands.push_back(line);
  PrintNewLog();
  char head[64];
  std::snprintf(head, sizeof(head), "sh   %6.3f s  -> %-3d ", seconds, code);
  Say(head + line);
}

// One call into the plug-in's event handler, timed.
void Deliver(const std::string &event, const std::function<void()> &call)
{
  SyncClock();
  g_call = {event, 0, {}};
  double start = Now();
  call();
  g_call.seconds = Now() - start;
  if(g_call.seconds > g_longest.seconds) g_longest = g_call;
  if(event != "idle") g_calls.push_back(g_call);
  PrintNewLog();
}

// Called between idle events (a background listing notes its end).
std::function<void()> g_between;

// Idle events every 50 ms until `done` holds; false (and a failed check)
// after `timeout` seconds.
bool RunUntil(const std::function<bool()> &done, double timeout, const std::string &what)
{
  double until = Now() + timeout;
  for(;;)
  {
    Deliver("idle", [] { g_receiver->Idle(); });
    if(g_between) g_between();
    if(done()) return true;
    if(Now() > until || g_receiver->ended())
    {
      Check(false, what, "not within " + std::to_string(static_cast<int>(timeout)) + " s");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// A listing of every media folder, as the receiver's browser makes it: a
// process of its own, timed, killed after `limit` seconds.
struct Listing {
  pid_t pid = -1;
  double start = 0, end = -1;
  int code = -1;
};

Listing StartListing()
{
  Listing l;
  l.start = Now();
  l.pid = Spawn("ls -lR /mnt/hd/MediaFiles /mnt/hd/MP3Files /mnt/hd/PhotoFiles /mnt/hd/DataFiles >/dev/null 2>&1");
  return l;
}

bool Finished(Listing *l)
{
  if(l->end >= 0) return true;
  int status = 0;
  if(l->pid <= 0 || waitpid(l->pid, &status, WNOHANG) != l->pid) return false;
  l->end = Now();
  l->code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

std::string Seconds(double s)
{
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f s", s);
  return text;
}

// ---- what is checked ------------------------------------------------------

struct Share {
  const Server *server;
  std::string remote, point;
};

std::vector<Share> SharesOf(const Server &s)
{
  std::vector<Share> shares;
  bool recording = s.index == 1 && ReadIni(kSettings + "/Brimvale.ini")["NAS Recording"] == "1";
  for(int k = 0; k < 4; ++k)
  {
    auto it = s.ini.find(kRemoteKeys[k]);
    if(it == s.ini.end() || it->second.empty()) continue;
    std::string point = k == 3 && recording ? "/mnt/hd/DataFiles" : "/mnt/hd" + std::string(kRoots[k]) + "/" + s.name;
    shares.push_back({&s, it->second, point});
  }
  return shares;
}

// Each share an NFS mount of its export at the folder the plug-in names, with
// the options it gave; the file the NAS wrote there readable.
void CheckMounted(const Server &s, const std::string &when)
{
  std::vector<MountLine> mounts = Mounts();
  for(const Share &share : SharesOf(s))
  {
    const MountLine *m = FindMount(mounts, share.point);
    std::string source = s.address + ":" + share.remote;
    Check(m != nullptr && m->type == "nfs" && m->source == source, when + ": " + source + " on " + share.point,
          m == nullptr ? "not mounted" : m->source + " " + m->type + " " + m->options);
    std::string file = share.point + "/from-nas.txt";
    Check(ReadText(file) == source + "\n", when + ": the NAS's file readable at " + file);
  }
}

void PrintNfsMounts()
{
  Say("/proc/mounts, NFS and the recording folder's binds:");
  for(const MountLine &m : Mounts())
    if(m.type == "nfs" || m.point.find("/mnt/hd/") == 0)
      std::printf("    %s %s %s %s\n", m.source.c_str(), m.point.c_str(), m.type.c_str(), m.options.c_str());
  std::fflush(stdout);
}

void PrintWaits()
{
  const char *order[] = {"ping, answered", "ping, unanswered", "ether-wake", "portmap", "ps", "mount, NFS",
                         "mount, bind", "umount, NFS, server up", "umount, NFS, server vanished", "umount, bind",
                         "umount, nothing mounted", "mkdir", "rmdir", "kill", "cd"};
  std::printf("@@ waits begin\n| command | runs | shortest | longest |\n|---|---:|---:|---:|\n");
  for(const char *kind : order)
  {
    double low = 1e9, high = 0;
    int n = 0;
    for(const Wait &w : g_waits)
      if(w.kind == kind)
      {
        ++n;
        low = std::min(low, w.seconds);
        high = std::max(high, w.seconds);
      }
    if(n > 0) std::printf("| %s | %d | %.2f s | %.2f s |\n", kind, n, low, high);
  }
  for(const Wait &w : g_waits)
    if(w.kind.rfind("listing", 0) == 0)
      std::printf("| %s | 1 | | %s%.2f s |\n", w.kind.c_str(), w.command.rfind("more", 0) == 0 ? "> " : "", w.seconds);
  std::printf("| the handler's longest call (%s, %zu commands) | 1 | | %.2f s |\n", g_longest.event.c_str(),
              g_longest.commands.size(), g_longest.seconds);
  for(const HandlerCall &c : g_calls)
    std::printf("| the %s (%zu commands) | 1 | | %.2f s |\n", c.event.c_str(), c.commands.size(), c.seconds);
  std::printf("@@ waits end\n");
  Say("the handler's longest call, " + g_longest.event + ", " + Seconds(g_longest.seconds) + ":");
  for(const std::string &c : g_longest.commands) std::printf("    %s\n", c.c_str());
  std::fflush(stdout);
}

int Night(const std::string &tap, const std::string &firmware)
{
  Server &first = g_servers.front();
  Server &last = g_servers.back();
  if(!fs::exists("/mnt/hd/ProgramFiles/FirmwareTMS.dat"))
    std::ofstream("/mnt/hd/ProgramFiles/FirmwareTMS.dat", std::ios::binary)
        << sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes();
  const std::string recordings_before = Tree("/mnt/hd/DataFiles");

  sim::ReceiverConfig config;
  config.root = "/";  // this machine is the receiver: /mnt/hd is its own disk
  config.firmware_dir = firmware;
  config.real_shell = true;
  sim::Receiver receiver(config);
  g_receiver = &receiver;
  receiver.trace().KeepOnly({sim::TraceKind::kShell});
  receiver.trace().ListenOnly({sim::TraceKind::kShell});
  receiver.trace().SetListener(OnShellEntry);
  // The timeshift settings, saved and restored around the recording folder's move.
  receiver.SetSystemVar(17, 1);
  receiver.SetSystemVar(18, 2);
  receiver.WriteSystemVar();

  std::string error;
  if(!receiver.Boot(&error) || !receiver.Load(tap, &error))
  {
    Check(false, "the receiver loads " + tap, error);
    return 1;
  }
  Say("TAP_Main");
  int started = 0;
  Deliver("start (TAP_Main)", [&] { started = receiver.Start(); });
  Check(started == 1 && !receiver.ended(), "TAP_Main returns 1 and the plug-in runs");
  pid_t portmap = FindProcess("portmap");
  Check(portmap > 0, "portmap runs after start-up");

  // Server 1 sleeps until its wake-up frame; the others answer at once.
  auto mounted = [](int i) {
    return Count(ReadText(kRunLog), "Mounting of " + std::to_string(i) + ". NAS finished successfully");
  };
  RunUntil([&] { return mounted(1) >= 1 && mounted(last.index) >= 1; }, 100, "every server mounted");
  std::string log = ReadText(kRunLog);
  size_t asleep = log.find(std::to_string(first.index) + ". NAS (" + first.address + ") is offline");
  size_t awake = log.find(std::to_string(first.index) + ". NAS (" + first.address + ") is online");
  Check(asleep != std::string::npos && awake != std::string::npos && asleep < awake,
        "server 1 did not answer before it was woken, and did after");
  PrintNfsMounts();
  for(const Server &s : g_servers) CheckMounted(s, "all mounted");
  Check(ReadText("/mnt/hd/DataFiles/" + std::string("DataFiles local") + "/Local recording.rec") ==
            "recorded on the receiver\n",
        "the local recording readable under /mnt/hd/DataFiles/DataFiles local");
  Check(ReadText("/mnt/hd/DF_local/Local recording.rec") == "recorded on the receiver\n",
        "the local recording readable under /mnt/hd/DF_local");
  {
    std::ofstream("/mnt/hd/DataFiles/written-by-receiver.txt") << "recorded onto the NAS\n";
    Check(ReadText("/mnt/hd/DataFiles/written-by-receiver.txt") == "recorded onto the NAS\n",
          "a file written into /mnt/hd/DataFiles reads back (the NAS side checks it landed in its export)");
  }
  for(const MountLine &m : Mounts())
    if(m.point == "/mnt/hd" + std::string(kRoots[0]) + "/" + first.name)
      Say("@@ default options " + first.ini["Mountoptions"] + " -> " + m.options);

  // The last server vanishes while mounted.
  last.vanished = true;
  Say("@@ cut " + last.address);
  double cut_asked = Now();
  while(Answers(last.address) && Now() < cut_asked + 10) {}
  Check(!Answers(last.address), last.address + " no longer answers");
  Listing at_cut = StartListing();  // meets the dead mounts
  g_between = [&] { Finished(&at_cut); };
  Say("listing of every media folder started (server " + std::to_string(last.index) + " gone, still mounted)");
  RunUntil(
      [&] {
        Finished(&at_cut);
        return Count(ReadText(kRunLog), "Unmounting of " + std::to_string(last.index) + ". NAS") >= 1 &&
               !receiver.in_plugin();
      },
      60, "server " + std::to_string(last.index) + " unmounted after it vanished");
  double unmounted_at = Now();
  // What waited inside the vanished share when it went is on its own now: the
  // forced unmount failed its call, but each further call waits for the
  // server up to the soft mount's time-out. It is timed to the end of the night.
  Listing after = StartListing();
  while(!Finished(&after) && Now() < after.start + 20) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if(!Finished(&after)) kill(after.pid, SIGKILL), waitpid(after.pid, nullptr, 0);
  Check(after.end >= 0 && after.end - after.start < 5,
        "a listing of every media folder after the unmount returns within 5 s",
        after.end < 0 ? "still blocked after 20 s" : "took " + Seconds(after.end - after.start));
  g_waits.push_back({"listing of every media folder, server vanished and unmounted", "ls -lR", after.code,
                     after.end < 0 ? 20 : after.end - after.start});
  {
    std::vector<MountLine> mounts = Mounts();
    for(const Share &share : SharesOf(last))
      Check(FindMount(mounts, share.point) == nullptr && !fs::exists(share.point),
            share.point + " unmounted and removed");
    CheckMounted(first, "server " + std::to_string(last.index) + " gone");
  }

  // It comes back and is mounted again.
  Say("@@ restore " + last.address);
  last.vanished = false;
  RunUntil([&] { return mounted(last.index) >= 2; }, 80, "server " + std::to_string(last.index) + " mounted again");
  CheckMounted(last, "back");

  Finished(&at_cut);
  g_between = nullptr;
  std::string waited = at_cut.end >= 0 ? Seconds(at_cut.end - at_cut.start) : "more than " + Seconds(Now() - at_cut.start);
  Say("the listing begun in the vanished share " + std::string(at_cut.end >= 0 ? "returned after " : "still waits: ") +
      waited + (at_cut.end >= 0 ? ", exit " + std::to_string(at_cut.code) : "") +
      (at_cut.end >= 0 && at_cut.end < unmounted_at ? " (before the unmount)" : ""));
  g_waits.push_back({"listing of every media folder, begun as the server vanished", waited, at_cut.code,
                     at_cut.end >= 0 ? at_cut.end - at_cut.start : Now() - at_cut.start});
  if(at_cut.end < 0) kill(at_cut.pid, SIGKILL), waitpid(at_cut.pid, nullptr, 0);

  // The stop request.
  Deliver("stop request", [&] { receiver.Stop(); });
  for(int k = 0; k < 100 && FindProcess("portmap") != 0; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PrintNfsMounts();
  size_t nfs = 0;
  for(const MountLine &m : Mounts()) nfs += m.type == "nfs";
  Check(nfs == 0 && MountsBelow("/mnt/hd/") == 0, "after the stop request no NFS mount and nothing mounted below /mnt/hd");
  Check(!fs::exists("/mnt/hd/DF_local"), "no /mnt/hd/DF_local");
  Check(Tree("/mnt/hd/DataFiles") == recordings_before, "the local recording folder is byte for byte as before",
        Tree("/mnt/hd/DataFiles"));
  Check(receiver.system_var(17) == 1 && receiver.system_var(18) == 2 && receiver.written_system_var(17) == 1 &&
            receiver.written_system_var(18) == 2,
        "system variables 17 and 18 restored");
  Check(FindProcess("portmap") == 0, "portmap ended");
  Check(Count(ReadText(kRunLog), "Brimvale terminated") == 1, "the run log ends with \"Brimvale terminated\"");
  PrintWaits();
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

// Every command the plug-in runs goes through posix_spawn (the receiver's
// real-shell mode); its start is taken here, its end when the trace records
// its status.
extern "C" int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *actions,
                           const posix_spawnattr_t *attr, char *const argv[], char *const envp[])
{
  using Fn = int (*)(pid_t *, const char *, const posix_spawn_file_actions_t *, const posix_spawnattr_t *,
                     char *const[], char *const[]);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "posix_spawn"));
  if(g_receiver != nullptr && g_receiver->in_plugin() && argv[0] != nullptr && argv[1] != nullptr && argv[2] != nullptr)
  {
    g_command_kind = KindOf(argv[2]);
    g_command_start = Now();
  }
  return real(pid, path, actions, attr, argv, envp);
}

int main(int argc, char **argv)
{
  if(argc < 5)
  {
    std::fprintf(stderr, "usage: %s TAP FIRMWARE_DIR SERVER... (SERVER = index,address,name)\n", argv[0]);
    return 2;
  }
  for(int k = 3; k < argc; ++k)
  {
    Server s;
    std::string arg = argv[k];
    size_t a = arg.find(','), b = arg.find(',', a + 1);
    s.index = std::atoi(arg.c_str());
    s.address = arg.substr(a + 1, b - a - 1);
    s.name = arg.substr(b + 1);
    s.ini = ReadIni(kSettings + (s.index == 1 ? "/Brimvale.ini" : "/" + std::to_string(s.index) + ".ini"));
    g_servers.push_back(s);
  }
  int result = Night(argv[1], argv[2]);
  std::printf("@@ night done, %d failed checks\n", g_failures);
  return result;
}
