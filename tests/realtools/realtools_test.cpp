// The shipped Brimvale.tap on the emulated receiver, with its command lines
// run by the real /bin/sh, Debian's busybox applets (ping among them),
// etherwake and procps' ps, inside namespaces this test makes for itself:
//
// - the test process (the receiver) gets its own mount, network and process
//   namespaces; /mnt/hd there leads to the sandbox's disk, so every real
//   mount lands in the sandbox and the emulator's disk view sees it;
// - each server at home is a process in a network namespace of its own on a
//   veth link: the sleeping first server wakes on a real wake-on-LAN frame,
//   the second is switched on late and finally unplugged, an uplink host
//   stands in for the internet probe's address once a route leads to it;
// - a mount wrapper turns the plug-in's NFS mounts into bind mounts of the
//   server's export folder while the server answers ping (no NFS client).
//
// Nothing leaves the namespaces: the receiver has no route but to the test
// hosts' links, and the namespaces die with the test's processes. Needs root;
// without it, or where namespaces are not permitted, the test is skipped.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "sim/firmware/firmware_dat.h"
#include "sim/receiver/receiver.h"
#include "tests/support/host_files.h"

extern char **environ;

namespace {

using host_files::Count;
using host_files::ReadText;
using host_files::Tree;

namespace fs = std::filesystem;

constexpr int kSkip = 77;
const std::string kSettings = "/ProgramFiles/Settings/Brimvale";

void WriteText(const std::string &path, const std::string &text)
{
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Runs a program (found through PATH) and waits: its exit code, or -1.
// Its standard output is dropped; standard error too when `quiet`.
int Run(const std::vector<std::string> &args, bool quiet = false)
{
  std::vector<char *> argv;
  for(const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if(quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child;
  int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if(failed) return -1;
  int status;
  while(waitpid(child, &status, 0) < 0)
    if(errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "ip ..." in the receiver's namespace, or inside the namespace of process `pid`.
bool Ip(const std::vector<std::string> &args, pid_t pid = 0)
{
  std::vector<std::string> command;
  if(pid != 0) command = {"nsenter", "-t", std::to_string(pid), "-n"};
  command.push_back("ip");
  command.insert(command.end(), args.begin(), args.end());
  return Run(command) == 0;
}

bool Answers(const std::string &address) { return Run({"ping", "-c1", "-W1", address}, true) == 0; }

// Virtual time runs far faster than real time: after a change to a link the
// test waits (up to 10 s) until the receiver really sees it, so that the
// plug-in's next probe meets the new state.
bool AwaitAnswer(const std::string &address, bool answering)
{
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while(Answers(address) != answering)
  {
    if(std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// ---- the hosts at home --------------------------------------------------

struct Host {
  std::string name;
  std::string address;      // on its link
  std::string extra;        // a further address on its loopback, or empty
  std::string mac;          // of its link
  std::string receiver_if;  // the receiver's end of the link
  std::string subnet;       // the receiver's address on the link, with prefix
  bool asleep = false;      // ignores echo requests until a magic packet comes
  bool link_up = true;      // its end of the link is up from the start
  std::string wake_log;     // one line per wake-on-LAN frame it saw
  pid_t pid = 0;
};

bool ParseMac(const std::string &text, unsigned char mac[6])
{
  unsigned v[6];
  if(std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) return false;
  for(int k = 0; k < 6; ++k) mac[k] = static_cast<unsigned char>(v[k]);
  return true;
}

std::string MacText(const unsigned char *mac)
{
  char text[18];
  std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

void AppendLine(const std::string &path, const std::string &line)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if(fd < 0) return;
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

bool SetEchoIgnored(bool ignored)
{
  int fd = open("/proc/sys/net/ipv4/icmp_echo_ignore_all", O_WRONLY);
  if(fd < 0) return false;
  bool ok = write(fd, ignored ? "1\n" : "0\n", 2) == 2;
  close(fd);
  return ok;
}

// The host's own process, in its own network namespace: records every
// wake-on-LAN frame (EtherType 0x0842) on its link, and wakes up when one
// carries its MAC address. Never returns.
[[noreturn]] void HostMain(const Host &host, int ready_fd, int go_fd)
{
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  char byte = 0;
  if(unshare(CLONE_NEWNET) != 0 || (host.asleep && !SetEchoIgnored(true))) byte = 1;
  if(write(ready_fd, &byte, 1) != 1 || byte != 0) _exit(1);
  if(read(go_fd, &byte, 1) != 1) _exit(1);  // the links are in place
  if(host.wake_log.empty())
    for(;;) pause();

  unsigned char own[6];
  ParseMac(host.mac, own);
  int sock = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  sockaddr_ll where{};
  where.sll_family = AF_PACKET;
  where.sll_protocol = htons(ETH_P_ALL);
  where.sll_ifindex = static_cast<int>(if_nametoindex("lan0"));
  if(sock < 0 || bind(sock, reinterpret_cast<sockaddr *>(&where), sizeof(where)) != 0)
  {
    AppendLine(host.wake_log, "listener failed");
    _exit(1);
  }
  bool asleep = host.asleep;
  unsigned char frame[2048];
  for(;;)
  {
    sockaddr_ll from{};
    socklen_t from_size = sizeof(from);
    ssize_t n = recvfrom(sock, frame, sizeof(frame), 0, reinterpret_cast<sockaddr *>(&from), &from_size);
    if(n < 0)
    {
      usleep(10000);  // the link went down for a while
      continue;
    }
    if(from.sll_pkttype == PACKET_OUTGOING || n < 14 || frame[12] != 0x08 || frame[13] != 0x42) continue;
    // A magic packet: six bytes 0xff, then the target's MAC sixteen times.
    const unsigned char *payload = frame + 14;
    bool magic = n >= 14 + 102;
    for(int k = 0; magic && k < 6; ++k) magic = payload[k] == 0xff;
    for(int k = 1; magic && k < 16; ++k) magic = std::memcmp(payload + 6 + 6 * k, payload + 6, 6) == 0;
    if(!magic)
    {
      AppendLine(host.wake_log, "malformed to " + MacText(frame));
      continue;
    }
    AppendLine(host.wake_log, "magic to " + MacText(frame) + " for " + MacText(payload + 6));
    if(asleep && std::memcmp(payload + 6, own, 6) == 0)
    {
      SetEchoIgnored(false);
      asleep = false;
    }
  }
}

// Starts the host's process and lays the link between it and the receiver.
bool StartHost(Host *host, std::string *error)
{
  int ready[2], go[2];
  if(pipe(ready) != 0 || pipe(go) != 0)
  {
    *error = "pipe failed";
    return false;
  }
  host->pid = fork();
  if(host->pid == 0)
  {
    close(ready[0]);
    close(go[1]);
    HostMain(*host, ready[1], go[0]);
  }
  close(ready[1]);
  close(go[0]);
  char byte = 1;
  if(host->pid < 0 || read(ready[0], &byte, 1) != 1 || byte != 0)
  {
    *error = host->name + ": no network namespace of its own";
    return false;
  }
  close(ready[0]);
  const std::string pid = std::to_string(host->pid);
  bool ok = Ip({"link", "add", host->receiver_if, "type", "veth", "peer", "name", "lan0", "netns", pid}) &&
            Ip({"addr", "add", host->subnet, "dev", host->receiver_if}) &&
            Ip({"link", "set", host->receiver_if, "up"}) && Ip({"link", "set", "lo", "up"}, host->pid) &&
            Ip({"link", "set", "lan0", "address", host->mac}, host->pid) &&
            Ip({"addr", "add", host->address + "/24", "dev", "lan0"}, host->pid) &&
            (host->extra.empty() || Ip({"addr", "add", host->extra + "/32", "dev", "lo"}, host->pid)) &&
            (!host->link_up || Ip({"link", "set", "lan0", "up"}, host->pid));
  if(!ok) *error = host->name + ": the veth link could not be laid";
  ok = ok && write(go[1], "", 1) == 1;
  close(go[1]);
  return ok;
}

// ---- what the test looks at ---------------------------------------------

// Mount points below `prefix` in this namespace's mount table, as receiver
// paths (prefix replaced by "/mnt/hd"), in mount order.
std::vector<std::string> MountsBelow(const std::string &prefix)
{
  std::vector<std::string> points;
  std::istringstream table(ReadText("/proc/self/mounts"));
  std::string line;
  while(std::getline(table, line))
  {
    std::istringstream fields(line);
    std::string source, raw;
    fields >> source >> raw;
    std::string point;  // the kernel writes space, tab, newline and \ in octal
    for(size_t k = 0; k < raw.size(); ++k)
      if(raw[k] == '\\' && k + 3 < raw.size() && std::isdigit(static_cast<unsigned char>(raw[k + 1])))
      {
        point += static_cast<char>(std::stoi(raw.substr(k + 1, 3), nullptr, 8));
        k += 3;
      }
      else
        point += raw[k];
    if(point.compare(0, prefix.size(), prefix) == 0 && point.size() > prefix.size() && point[prefix.size()] == '/')
      points.push_back("/mnt/hd" + point.substr(prefix.size()));
  }
  return points;
}

std::set<std::string> AsSet(const std::vector<std::string> &v) { return {v.begin(), v.end()}; }

// Living processes of this process namespace (zombies count as gone), with
// the first word of their command lines.
std::map<pid_t, std::string> LivingProcesses()
{
  std::map<pid_t, std::string> living;
  for(const auto &entry : fs::directory_iterator("/proc"))
  {
    std::string name = entry.path().filename().string();
    if(name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadText(entry.path().string() + "/stat");
    size_t close_paren = stat.rfind(')');
    if(close_paren == std::string::npos || close_paren + 2 >= stat.size() || stat[close_paren + 2] == 'Z') continue;
    std::string cmdline = ReadText(entry.path().string() + "/cmdline");
    living[static_cast<pid_t>(std::stol(name))] = cmdline.substr(0, cmdline.find('\0'));
  }
  return living;
}

// Reaps the test's children that have ended (orphans come to process 1).
void ReapEnded()
{
  while(waitpid(-1, nullptr, WNOHANG) > 0) {}
}

// Set by main() in the namespaces before the tests run.
std::string g_sandbox;

class RealTools : public ::testing::Test {
 protected:
  void SetUp() override
  {
    root_ = g_sandbox + "/root";
    hd_ = root_ + "/mnt/hd";
    exports_ = g_sandbox + "/nas";
    fs::create_directories(hd_);
    // The plug-in's command lines name /mnt/hd: here it leads into the
    // sandbox, so the real mounts are what the emulator's disk shows.
    fs::create_symlink(hd_, "/mnt/hd");

    // The tools the receiver's shell finds first.
    std::string tools = g_sandbox + "/tools";
    fs::create_directories(tools);
    for(const char *tool : {"mount", "portmap", "ps"})
    {
      fs::copy_file(std::string(BRIMVALE_REALTOOLS_DIR) + "/bin/" + tool, tools + "/" + tool);
      fs::permissions(tools + "/" + tool, fs::perms(0755));
    }
    // The receiver's own tools are busybox applets. Its ping matters: the
    // plug-in judges a probe by the size of ping's report, and iputils' ping
    // adds a "Destination Host Unreachable" line that makes the report of a
    // host that is away longer than 200 bytes.
    for(const char *applet : {"mkdir", "rmdir", "chmod", "umount", "ping"})
      fs::create_symlink("/bin/busybox", tools + "/" + applet);
    setenv("PATH", (tools + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin").c_str(), 1);
    setenv("BRIMVALE_NAS_EXPORTS", exports_.c_str(), 1);
  }

  void TearDown() override
  {
    if(receiver_ != nullptr && HasFailure())
    {
      std::cout << "---- run log\n" << RunLog() << "---- commands\n";
      for(const std::string &t : receiver_->trace().Texts(sim::TraceKind::kShell)) std::cout << t << "\n";
    }
    receiver_.reset();
    for(Host *h : {&nas1_, &nas2_, &uplink_})
      if(h->pid > 0)
      {
        kill(h->pid, SIGKILL);
        waitpid(h->pid, nullptr, 0);
      }
  }

  void Export(const std::string &address, const std::string &path, const std::string &file, const std::string &text)
  {
    WriteText(exports_ + "/" + address + path + "/" + file, text);
  }

  std::string RunLog() { return ReadText(hd_ + kSettings + "/Logs/Brimvale.log"); }
  std::set<std::string> Mounts() { return AsSet(MountsBelow(hd_)); }
  void Run(double seconds) { receiver_->RunIdle(static_cast<uint64_t>(seconds * 100), 10); }

  std::vector<std::string> Commands() const
  {
    std::vector<std::string> commands;
    for(const std::string &t : receiver_->trace().Texts(sim::TraceKind::kShell))
      commands.push_back(t.substr(1, t.rfind("\" -> ") - 1));
    return commands;
  }

  std::vector<std::string> WakeFrames() const
  {
    std::vector<std::string> frames;
    std::istringstream in(ReadText(nas1_.wake_log));
    for(std::string line; std::getline(in, line);) frames.push_back(line);
    return frames;
  }

  std::string root_, hd_, exports_;
  Host nas1_, nas2_, uplink_;
  std::unique_ptr<sim::Receiver> receiver_;
};

const std::set<std::string> kFirstServer = {"/mnt/hd/MediaFiles/DiskStation", "/mnt/hd/DF_local", "/mnt/hd/DataFiles",
                                            "/mnt/hd/DataFiles/DataFiles local"};
const std::set<std::string> kSecondServer = {"/mnt/hd/MediaFiles/Cloud", "/mnt/hd/DataFiles/Cloud"};

std::set<std::string> Union(std::set<std::string> a, const std::set<std::string> &b)
{
  a.insert(b.begin(), b.end());
  return a;
}

TEST_F(RealTools, ServersWakeComeAndGoAndTheStopRequestLeavesNothingBehind)
{
  // The first server sleeps until a magic packet with its MAC reaches it and
  // holds the recording folder; the second is switched off at first; the
  // uplink host answers for the internet probe's address.
  nas1_ = {"nas1", "10.77.0.11", "", "02:77:00:00:00:11", "eth0", "10.77.0.1/24", true, true, g_sandbox + "/nas1-wake.log"};
  nas2_ = {"nas2", "10.77.1.12", "", "02:77:00:00:01:12", "eth1", "10.77.1.1/24", false, false, ""};
  uplink_ = {"uplink", "10.77.2.2", "8.8.8.8", "02:77:00:00:02:02", "eth2", "10.77.2.1/24", false, true, ""};
  Export(nas1_.address, "/volume1/video", "video.txt", "DiskStation video");
  Export(nas1_.address, "/volume1/rec", "rec.txt", "DiskStation recordings");
  Export(nas2_.address, "/share/films", "films.txt", "Cloud films");
  Export(nas2_.address, "/share/data", "data.txt", "Cloud data");
  std::string error;
  if(!Ip({"link", "set", "lo", "up"}) || !StartHost(&nas1_, &error) || !StartHost(&nas2_, &error) ||
     !StartHost(&uplink_, &error))
    FAIL() << (error.empty() ? "loopback" : error);
  ASSERT_FALSE(Answers(nas1_.address)) << "the first server should be asleep";
  ASSERT_FALSE(Answers(nas2_.address)) << "the second server should be switched off";
  ASSERT_FALSE(Answers("8.8.8.8")) << "no route to the internet yet";
  ASSERT_TRUE(Answers(uplink_.address));

  // The receiver: up for 20 s, so mounting waits 40 s unless the network
  // probe answers first (MountDelay 0).
  sim::ReceiverConfig config;
  config.root = root_;
  config.firmware_dir = BRIMVALE_FIRMWARE_DIR;
  config.uptime_ticks = 2000;
  config.real_shell = true;
  receiver_ = std::make_unique<sim::Receiver>(config);
  ASSERT_TRUE(receiver_->Boot(&error)) << error;
  WriteText(hd_ + "/ProgramFiles/FirmwareTMS.dat", sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes());
  fs::copy_file(std::string(BRIMVALE_REALTOOLS_DIR) + "/receiver-busybox", hd_ + "/ProgramFiles/busybox");
  fs::permissions(hd_ + "/ProgramFiles/busybox", fs::perms(0644));  // start-up's chmod makes it runnable
  WriteText(hd_ + "/DataFiles/Local recording.rec", "recorded on the receiver");
  WriteText(hd_ + kSettings + "/Brimvale.ini",
            "NAS IP-Address=10.77.0.11\r\nNAS MAC-Address=02:77:00:00:00:11\r\nLocal Folder Name=DiskStation\r\n"
            "Remotefolder MediaFiles=/volume1/video\r\nRemotefolder DataFiles=/volume1/rec\r\n"
            "Mountoptions=-osoft,intr,tcp,rsize=65535,nolock\r\nNAS Boottime=10\r\nPing Wait=1\r\nPing Gap=20\r\n"
            "MountDelay=0\r\nNAS Recording=1\r\nLogfile=1\r\n");
  WriteText(hd_ + kSettings + "/2.ini",
            "NAS IP-Address=10.77.1.12\r\nLocal Folder Name=Cloud\r\nRemotefolder MediaFiles=/share/films\r\n"
            "Remotefolder DataFiles=/share/data\r\nMountoptions=-onolock\r\nNAS Boottime=5\r\nPing Wait=1\r\n"
            "Ping Gap=20\r\n");
  const std::string data_files_before = Tree(hd_ + "/DataFiles");
  ASSERT_TRUE(receiver_->Load(BRIMVALE_TAP, &error)) << error;
  ASSERT_EQ(receiver_->Start(), 1);
  ASSERT_FALSE(receiver_->ended()) << RunLog();
  std::map<pid_t, std::string> started = LivingProcesses();
  pid_t portmap = 0;
  for(const auto &[pid, name] : started)
    if(name == "portmap") portmap = portmap == 0 ? pid : -1;
  ASSERT_GT(portmap, 0) << "one port-mapper process after start-up";
  EXPECT_EQ(access((hd_ + "/ProgramFiles/busybox").c_str(), X_OK), 0) << "made runnable at start-up";

  {
    SCOPED_TRACE("no route to the internet: the network probe fails and nothing starts");
    Run(10);
    EXPECT_GE(Count(RunLog(), "Network is not ready"), 3u);
    EXPECT_EQ(Count(RunLog(), "Network is ready"), 0u);
    EXPECT_TRUE(WakeFrames().empty()) << "no wake-up before mounting may begin";
    EXPECT_TRUE(Mounts().empty());
  }
  {
    SCOPED_TRACE("a route to the probe's address: mounting begins early, the first server is woken and mounted");
    ASSERT_TRUE(Ip({"route", "add", "8.8.8.8/32", "via", uplink_.address}));
    ASSERT_TRUE(AwaitAnswer("8.8.8.8", true));
    Run(45);
    EXPECT_EQ(Count(RunLog(), "Network is ready"), 1u);
    std::vector<std::string> frames = WakeFrames();
    ASSERT_FALSE(frames.empty()) << "no wake-on-LAN frame reached the first server";
    for(const std::string &f : frames) EXPECT_EQ(f, "magic to 02:77:00:00:00:11 for 02:77:00:00:00:11");
    EXPECT_EQ(Mounts(), kFirstServer);
    EXPECT_EQ(ReadText(hd_ + "/MediaFiles/DiskStation/video.txt"), "DiskStation video");
    EXPECT_EQ(ReadText(hd_ + "/DataFiles/rec.txt"), "DiskStation recordings");
    EXPECT_EQ(ReadText(hd_ + "/DataFiles/DataFiles local/Local recording.rec"), "recorded on the receiver");
    EXPECT_EQ(ReadText(hd_ + "/DF_local/Local recording.rec"), "recorded on the receiver");
    EXPECT_TRUE(fs::is_directory(exports_ + "/10.77.0.11/volume1/rec/TimeShift")) << "made in the server's export";
    EXPECT_NE(RunLog().find("1. NAS (10.77.0.11) is online"), std::string::npos);
    EXPECT_NE(RunLog().find("2. NAS (10.77.1.12) is offline"), std::string::npos);
    EXPECT_EQ(RunLog().find("2. NAS (10.77.1.12) is online"), std::string::npos) << "switched off, yet online";
  }
  {
    SCOPED_TRACE("the second server is switched on and mounted, its recordings below the first's");
    ASSERT_TRUE(Ip({"link", "set", "lan0", "up"}, nas2_.pid));
    ASSERT_TRUE(AwaitAnswer(nas2_.address, true));
    Run(40);
    EXPECT_EQ(Mounts(), Union(kFirstServer, kSecondServer));
    EXPECT_EQ(ReadText(hd_ + "/MediaFiles/Cloud/films.txt"), "Cloud films");
    EXPECT_EQ(ReadText(hd_ + "/DataFiles/Cloud/data.txt"), "Cloud data");
  }
  {
    SCOPED_TRACE("the second server's link is deleted: it is unmounted");
    ASSERT_TRUE(Ip({"link", "del", "eth1"}));
    ASSERT_TRUE(AwaitAnswer(nas2_.address, false));
    Run(25);
    EXPECT_NE(RunLog().find("Unmounting of 2. NAS"), std::string::npos);
    EXPECT_EQ(Mounts(), kFirstServer);
    EXPECT_FALSE(fs::exists(hd_ + "/MediaFiles/Cloud"));
    EXPECT_FALSE(fs::exists(exports_ + "/10.77.0.11/volume1/rec/Cloud")) << "mount point left in the first's export";
  }
  {
    SCOPED_TRACE("the first server's link goes down: the recording folder is the receiver's own again");
    ASSERT_TRUE(Ip({"link", "set", "lan0", "down"}, nas1_.pid));
    ASSERT_TRUE(AwaitAnswer(nas1_.address, false));
    Run(25);
    EXPECT_NE(RunLog().find("Reset Recording Device"), std::string::npos);
    EXPECT_TRUE(Mounts().empty());
    EXPECT_EQ(Tree(hd_ + "/DataFiles"), data_files_before);
    EXPECT_FALSE(fs::exists(hd_ + "/DF_local"));
  }
  {
    SCOPED_TRACE("the first server's link comes back: mounted again");
    ASSERT_TRUE(Ip({"link", "set", "lan0", "up"}, nas1_.pid));
    ASSERT_TRUE(AwaitAnswer(nas1_.address, true));
    Run(40);
    EXPECT_EQ(Mounts(), kFirstServer);
    EXPECT_EQ(ReadText(hd_ + "/DataFiles/rec.txt"), "DiskStation recordings");
  }
  {
    SCOPED_TRACE("the stop request unmounts everything and ends the port mapper, and nothing else");
    std::map<pid_t, std::string> before = LivingProcesses();
    receiver_->Stop();
    std::map<pid_t, std::string> after;
    for(int k = 0; k < 200; ++k)  // the signal is delivered at once; give the process time to go
    {
      ReapEnded();
      after = LivingProcesses();
      if(after.count(portmap) == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(after.count(portmap), 0u) << "port mapper still running";
    for(const auto &[pid, name] : before)
      if(pid != portmap) EXPECT_EQ(after.count(pid), 1u) << "process " << pid << " (" << name << ") was ended";
    std::vector<std::string> commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "kill -15 " + std::to_string(portmap)), 1);
    EXPECT_TRUE(Mounts().empty());
    EXPECT_EQ(Tree(hd_ + "/DataFiles"), data_files_before);
    EXPECT_FALSE(fs::exists(hd_ + "/DF_local"));
    EXPECT_FALSE(fs::exists(hd_ + "/MediaFiles/DiskStation"));
    EXPECT_EQ(Tree(exports_ + "/10.77.0.11/volume1/rec"), "TimeShift/\nrec.txt = DiskStation recordings\n");
    EXPECT_NE(RunLog().find("Brimvale terminated"), std::string::npos);
  }
  for(const auto &e : fs::directory_iterator(hd_ + kSettings))
  {
    std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "Brimvale.ini" || name == "2.ini" || name == "Logs") << "left behind: " << name;
  }
  // Every folder made, every mount and the kill succeeded with the real tools
  // (unmounts of shares a server does not have fail by design).
  for(const std::string &t : receiver_->trace().Texts(sim::TraceKind::kShell))
    for(const char *tool : {"\"mkdir ", "\"mount ", "\"kill ", "\"cd ", "\"portmap\"", "\"ps "})
      if(t.rfind(tool, 0) == 0) EXPECT_NE(t.find("\" -> 0"), std::string::npos) << t;
}

// ---- the namespaces -----------------------------------------------------

int Skip(const std::string &why)
{
  std::printf("RealTools skipped: %s\n", why.c_str());
  std::fflush(stdout);
  return kSkip;
}

// Inside the new namespaces, as their first process: a private mount tree
// with its own /proc and an empty /mnt, then the tests.
int InNamespaces()
{
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if(mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
    return Skip(std::string("cannot mount /proc in the new namespaces: ") + strerror(errno));
  if(mount("tmpfs", "/mnt", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
    return Skip(std::string("cannot mount a tmpfs on /mnt in the new namespaces: ") + strerror(errno));
  const char *tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brimvale-real-XXXXXX";
  if(mkdtemp(pattern.data()) == nullptr) return std::printf("mkdtemp failed\n"), 1;
  g_sandbox = fs::absolute(pattern).string();
  int result = RUN_ALL_TESTS();
  // Whatever is still mounted dies with the namespace; the files go now.
  std::vector<std::string> left;
  for(const std::string &p : MountsBelow(g_sandbox)) left.push_back(g_sandbox + p.substr(std::strlen("/mnt/hd")));
  for(auto it = left.rbegin(); it != left.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  if(getenv("BRIMVALE_KEEP_SANDBOX") == nullptr)
  {
    std::error_code ec;
    fs::remove_all(g_sandbox, ec);
  }
  return result;
}

}  // namespace

int main(int argc, char **argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  if(geteuid() != 0) return Skip("needs root for network and mount namespaces");
  for(const char *tool : {"/bin/busybox", "/usr/sbin/etherwake", "/usr/bin/ps", "/usr/bin/nsenter", "/usr/sbin/ip"})
    if(access(tool, X_OK) != 0)
      return Skip(std::string(tool) + " is missing (scripts/install-deps.sh installs it)");
  if(unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0)
    return Skip(std::string("unshare: ") + strerror(errno));
  // Nothing mounted from here on may reach the machine's own mount tree.
  if(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
  {
    std::printf("cannot make the new mount namespace private: %s\n", strerror(errno));
    std::fflush(stdout);
    _exit(1);
  }
  pid_t first = fork();
  if(first < 0) _exit(Skip("no process for the new process namespace"));
  if(first == 0) std::exit(InNamespaces());
  int status;
  while(waitpid(first, &status, 0) < 0)
    if(errno != EINTR) _exit(1);
  // _exit: this process has unshared its process namespace, which ended with
  // its first process, so no new process (the leak checker's helper among
  // them) can be made for it any more.
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}
