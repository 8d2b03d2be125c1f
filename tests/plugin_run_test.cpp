// The shipped Brimvale.tap on an emulated receiver with a home network:
// start-up, probing, wake-up, mounting, retries, unmounting and the stop
// request, judged by the run log, the commands and the receiver's disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

#ifndef BRIMVALE_SANITIZE
#define BRIMVALE_SANITIZE 0
#endif

namespace {

namespace fs = std::filesystem;

const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/Brimvale/";
const std::string kRunLog = kSettings + "Logs/Brimvale.log";

class PluginRun : public SimTest {
 protected:
  PluginRun()
  {
    config.year = 2026, config.month = 12, config.day = 8;
    config.hour = 20, config.minute = 0, config.second = 0;
    config.uptime_ticks = 60000;  // up for 10 minutes: mounting may begin at once
    config.terminals = {0};
  }

  sim::NasConfig Nas(const std::string &name, const std::string &address, const std::string &mac,
                     std::initializer_list<std::string> exports)
  {
    sim::NasConfig nas = NasWithExports(name, address, exports);
    nas.mac = mac;
    return nas;
  }

  // Boots, lays out the receiver's files and starts the plug-in.
  void Start(const std::string &main_ini, const std::vector<std::string> &more_inis = {})
  {
    Boot();
    WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat", sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes());
    WriteFile("/mnt/hd/ProgramFiles/busybox", "busybox stand-in\n");
    WriteFile("/mnt/hd/DataFiles/Local recording.rec", "recorded on the receiver");
    WriteFile(kSettings + "Brimvale.ini", main_ini);
    for(size_t k = 0; k < more_inis.size(); ++k) WriteFile(kSettings + std::to_string(k + 2) + ".ini", more_inis[k]);
    data_files_before_ = Tree("/mnt/hd/DataFiles");
    LoadTap();
    ASSERT_EQ(receiver->Start(), 1);
  }

  void Run(double seconds) { receiver->RunIdle(static_cast<uint64_t>(seconds * 100), 10); }

  bool Ran(const std::string &command) const
  {
    auto c = Commands();
    return std::find(c.begin(), c.end(), command) != c.end();
  }

  std::string RunLog() { return ReadFile(kRunLog); }

  // Commands run so far that begin with `start`.
  size_t CountCommands(const std::string &start) const
  {
    size_t n = 0;
    for(const std::string &c : Commands()) n += c.rfind(start, 0) == 0;
    return n;
  }

  // Compares `text` with tests/golden/<name>; BRIMVALE_UPDATE_GOLDEN=1 rewrites it.
  void ExpectGolden(const std::string &name, const std::string &text)
  {
    std::string path = std::string(BRIMVALE_SOURCE_DIR) + "/tests/golden/" + name;
    if(getenv("BRIMVALE_UPDATE_GOLDEN") != nullptr)
    {
      fs::create_directories(fs::path(path).parent_path());
      std::ofstream(path, std::ios::binary) << text;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(text, expected.str()) << "differs from tests/golden/" << name;
  }

  std::string Joined(const std::vector<std::string> &lines)
  {
    std::string out;
    for(const std::string &l : lines) out += l + "\n";
    return out;
  }

  // BRIMVALE_SHOW_RUN=1 prints the run log and the commands of a failed run.
  void TearDown() override
  {
    if(HasFailure() && getenv("BRIMVALE_SHOW_RUN") != nullptr && receiver)
      std::cout << "---- run log\n" << RunLog() << "---- commands\n" << Joined(Commands());
  }

  // Server 1 takes the recording folder, a second server has a share below
  // it; the firmware's own values of 17 and 18 are set, to be found again.
  void StartRecordingHome();
  void ExpectLogRotation();
  void ExpectThirdAttemptIcon(const sim::NasConfig &nas, const std::string &more_ini,
                              const std::map<unsigned, std::string> &expected);


  std::string data_files_before_;
};

const char *kOneServer =
    "NAS IP-Address=192.168.178.20\r\n"
    "NAS MAC-Address=00:11:32:aa:bb:cc\r\n"
    "Local Folder Name=DiskStation\r\n"
    "Remotefolder MediaFiles=/volume1/video\r\n"
    "Remotefolder MP3Files=/volume1/music\r\n"
    "Mountoptions=-osoft,intr,tcp,rsize=65535,nolock\r\n"
    "NAS Boottime=10\r\n"
    "Ping Wait=2\r\n"
    "Ping Gap=30\r\n"
    "MountDelay=5\r\n"
    "Logfile=1\r\n";

void PluginRun::StartRecordingHome()
{
  config.servers = {Nas("rec", "192.168.178.20", "", {"/volume1/rec", "/volume1/video", "/volume1/music"}),
                    Nas("second", "192.168.178.21", "", {"/share/data"})};
  std::string main_ini = std::string(kOneServer) + "NAS Recording=1\r\nRemotefolder DataFiles=/volume1/rec\r\n";
  std::string second =
      "NAS IP-Address=192.168.178.21\r\nLocal Folder Name=Second\r\nRemotefolder DataFiles=/share/data\r\n"
      "Mountoptions=-onolock\r\nNAS Boottime=10\r\nPing Wait=2\r\nPing Gap=30\r\n";
  Start(main_ini, {second});
  TAP_SetSystemVar(SYSVAR_TIMESHIFT, 1);
  TAP_SetSystemVar(SYSVAR_TIMESHIFT_STORAGE, 2);
  TAP_WriteSystemVar();
}

TEST_F(PluginRun, OneServerUpFromTheStart)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"})};
  Start(kOneServer);
  Run(60);
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "diskstation/volume1/video");
  EXPECT_EQ(ReadFile("/mnt/hd/MP3Files/DiskStation/music.txt"), "diskstation/volume1/music");
  EXPECT_EQ(receiver->disk().mounts().size(), 3u);
  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_FALSE(Exists("/mnt/hd/MediaFiles/DiskStation"));
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
  EXPECT_EQ(receiver->processes().Find("portmap"), nullptr) << "portmap stopped";
  ExpectGolden("one-server.log", RunLog());
  ExpectGolden("one-server.commands", Joined(Commands()));
}

TEST_F(PluginRun, WithoutAMountDelayTheNetworkIsProbedEvery3sUntilMountingMayBegin)
{
  config.internet = false;
  config.uptime_ticks = 2000;  // up for 20 s: without a network mounting waits 40 s more
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video"})};
  std::string ini = kOneServer;
  ini.replace(ini.find("MountDelay=5"), 12, "MountDelay=0");
  Start(ini);
  Run(30);
  std::vector<uint32_t> probes;
  for(const sim::TraceEntry &e : receiver->trace().entries())
    if(e.kind == sim::TraceKind::kShell && e.text.find("ping -c1 -W1 8.8.8.8 ") != std::string::npos)
      probes.push_back(e.tick);
  // Each unanswered probe waits out its 1 s; the next one follows 3 s after
  // it, on the first idle event (10 ticks apart here) past that.
  ASSERT_GE(probes.size(), 7u);
  for(size_t k = 1; k < probes.size(); ++k)
  {
    EXPECT_GT(probes[k] - probes[k - 1], 400u) << k;
    EXPECT_LE(probes[k] - probes[k - 1], 410u) << k;
  }
  EXPECT_EQ(receiver->disk().mounts().size(), 1u) << "nothing mounted before the start-up delay";
}

TEST_F(PluginRun, WithAMountDelayTheNetworkIsNeverProbed)
{
  config.uptime_ticks = 2000;  // up for 20 s: MountDelay 30 holds mounting back 10 s more
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"})};
  std::string ini = kOneServer;
  ini.replace(ini.find("MountDelay=5"), 12, "MountDelay=30");
  Start(ini);
  Run(9);
  EXPECT_EQ(CountCommands("ping "), 0u) << "nothing is pinged before the delay is over";
  Run(30);
  EXPECT_EQ(CountCommands("ping -c1 -W1 8.8.8.8"), 0u) << "no network probe while MountDelay is set";
  EXPECT_GE(CountCommands("ping -c1 -W2 192.168.178.20"), 1u);
}

// A boot time just 1 s longer than the ping may take leaves no room for the
// probe before the mount: the server is pinged once, not on every idle event.
TEST_F(PluginRun, ABootTimeOneSecondOverThePingWaitPingsOnceBeforeTheMount)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "", {"/volume1/video", "/volume1/music"})};
  std::string ini = kOneServer;
  ini.replace(ini.find("NAS Boottime=10"), 15, "NAS Boottime=3");
  Start(ini);
  Run(10);
  ASSERT_TRUE(Ran("mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/MediaFiles/DiskStation\" "
                  "-osoft,intr,tcp,rsize=65535,nolock"));
  EXPECT_EQ(CountCommands("ping -c1 -W2 192.168.178.20"), 1u);
}

// The icon of a third attempt that failed: the failed icon with the number of
// failed shares when none mounted; the part icon with the mounted count on
// the right and the failed one on the left when some did. Both are drawn as
// sprites, the ok icon is not.
void PluginRun::ExpectThirdAttemptIcon(const sim::NasConfig &nas, const std::string &more_ini,
                                       const std::map<unsigned, std::string> &expected)
{
  config.servers = {nas};
  Start(std::string(kOneServer) + more_ini);
  Run(90);
  ASSERT_NE(RunLog().find("Mounting of 1. NAS failed"), std::string::npos);
  int sprite = -1;
  std::map<unsigned, std::string> counts;  // x -> number drawn beside the last icon
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kOsd))
  {
    unsigned rgn = 0, x = 0, y = 0;
    int drawn = -1;
    if(std::sscanf(t.c_str(), "TAP_Osd_PutGd(%u, %u, %u, image, %d)", &rgn, &x, &y, &drawn) == 4)
      sprite = drawn, counts.clear();
    else if(std::sscanf(t.c_str(), "TAP_Osd_PutS(%u, %u, %u,", &rgn, &x, &y) == 3 && y == 42)
      counts[x] = t.substr(t.find('"') + 1, t.rfind('"') - t.find('"') - 1);
  }
  EXPECT_EQ(sprite, 1);
  EXPECT_EQ(counts, expected);
}

TEST_F(PluginRun, TheThirdAttemptWithNothingMountedShowsTheFailedCount)
{
  ExpectThirdAttemptIcon(NasWithExports("diskstation", "192.168.178.20", {}), "", {{589, "2"}});
}

TEST_F(PluginRun, TheThirdAttemptWithTwoOfThreeMountedShowsBothCounts)
{
  ExpectThirdAttemptIcon(NasWithExports("diskstation", "192.168.178.20", {"/volume1/video", "/volume1/music"}),
                         "Remotefolder PhotoFiles=/volume1/photo\r\n", {{589, "2"}, {557, "1"}});
}

TEST_F(PluginRun, SleepingServerIsWokenAndMountedAfterItsBoot)
{
  sim::NasConfig nas = Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"});
  nas.asleep = true;
  nas.boot_seconds = 45;
  config.servers = {nas};
  Start(kOneServer);
  Run(40);
  EXPECT_EQ(receiver->network().State("diskstation")->wake_packets, 1);
  EXPECT_EQ(receiver->disk().mounts().size(), 1u) << "still booting";
  Run(120);
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "diskstation/volume1/video");
  EXPECT_NE(RunLog().find("1. NAS (192.168.178.20) is offline"), std::string::npos);
  EXPECT_NE(RunLog().find("Mounting of 1. NAS finished successfully"), std::string::npos);
  ExpectGolden("sleeping.log", RunLog());
  ExpectGolden("sleeping.commands", Joined(Commands()));
}

TEST_F(PluginRun, ServerThatVanishesIsUnmountedAndMountedAgainWhenItReturns)
{
  sim::NasConfig nas = Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"});
  nas.outages = {{60, 130}};
  config.servers = {nas};
  Start(kOneServer);
  Run(50);
  EXPECT_EQ(receiver->disk().mounts().size(), 3u);
  Run(60);
  EXPECT_EQ(receiver->disk().mounts().size(), 1u) << "unmounted while away";
  EXPECT_NE(RunLog().find("Unmounting of 1. NAS"), std::string::npos);
  bool disconnected = false;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kOsd))
    disconnected = disconnected || t.find("TAP_Osd_PutGd") != std::string::npos;
  EXPECT_TRUE(disconnected);
  Run(120);
  EXPECT_EQ(receiver->disk().mounts().size(), 3u) << "mounted again";
  ExpectGolden("outage.log", RunLog());
  ExpectGolden("outage.commands", Joined(Commands()));
}

TEST_F(PluginRun, ThreeFailedAttemptsGiveUpAndKeepWhatMounted)
{
  // The music export is missing: every attempt fails on it.
  config.servers = {Nas("diskstation", "192.168.178.20", "", {"/volume1/video"})};
  Start(kOneServer);
  Run(200);
  std::string log = RunLog();
  EXPECT_NE(log.find("Start mounting of 1. NAS: 192.168.178.20 (3 try)"), std::string::npos);
  EXPECT_EQ(log.find("(4 try)"), std::string::npos);
  EXPECT_NE(log.find("Mounting of 1. NAS failed"), std::string::npos);
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "diskstation/volume1/video") << "kept";
  EXPECT_FALSE(Exists("/mnt/hd/MP3Files/DiskStation")) << "no empty mount point left";
  // Given up: no more attempts. While it holds the video share it is still
  // pinged, so the share would not stay behind on a NAS that went away.
  auto count = [this](const std::string &start) {
    size_t n = 0;
    for(const std::string &c : Commands()) n += c.rfind(start, 0) == 0;
    return n;
  };
  size_t mounts = count("mount "), pings = count("ping ");
  Run(300);
  EXPECT_EQ(count("mount "), mounts);
  EXPECT_GE(count("ping "), pings + 9);
  ExpectGolden("given-up.log", RunLog());
  ExpectGolden("given-up.commands", Joined(Commands()));
}

TEST_F(PluginRun, AGivenUpServerThatVanishesLeavesNoShareBehind)
{
  sim::NasConfig nas = Nas("diskstation", "192.168.178.20", "", {"/volume1/video"});
  nas.outages = {{300, 100000}};
  config.servers = {nas};
  Start(kOneServer);
  Run(200);
  ASSERT_NE(RunLog().find("Mounting of 1. NAS failed"), std::string::npos);
  ASSERT_EQ(receiver->disk().mounts().size(), 2u) << "the video share kept";
  receiver->trace().Clear();
  Run(150);
  EXPECT_EQ(receiver->disk().mounts().size(), 1u) << "unmounted once the NAS went";
  EXPECT_FALSE(Exists("/mnt/hd/MediaFiles/DiskStation"));
  // The only icon drawn without the sprite flag in this phase: disconnected.
  std::vector<std::string> icons;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kOsd))
    if(t.rfind("TAP_Osd_PutGd(", 0) == 0) icons.push_back(t);
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_NE(icons[0].find(", image, 0)"), std::string::npos) << icons[0];
  // Nothing left to watch, and still not mounted again until a restart:
  // only the wake-up packets go on.
  auto not_wakeups = [this]() {
    size_t n = 0;
    for(const std::string &c : Commands()) n += c.find("ether-wake") == std::string::npos;
    return n;
  };
  size_t commands = not_wakeups();
  Run(300);
  EXPECT_EQ(not_wakeups(), commands);
}

// An editor's blank after the MAC or before a folder: with the run log off
// the owner would never learn why a sleeping NAS is not woken or mounted.
TEST_F(PluginRun, BlanksAroundSettingsValuesDoNotDisableAServer)
{
  sim::NasConfig nas = Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video"});
  nas.asleep = true;
  nas.boot_seconds = 45;
  config.servers = {nas};
  Start("NAS IP-Address=192.168.178.20 \r\nNAS MAC-Address=00:11:32:aa:bb:cc \r\n"
        "Local Folder Name=DiskStation\t\r\nRemotefolder MediaFiles= /volume1/video\r\n"
        "Mountoptions=-onolock \r\nNAS Boottime=10 \r\nMountDelay=5\r\n");
  Run(160);
  EXPECT_GE(receiver->network().State("diskstation")->wake_packets, 1);
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "diskstation/volume1/video");
  EXPECT_TRUE(Ran("mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/MediaFiles/DiskStation\" -onolock"));
}

TEST_F(PluginRun, RecordingFolderOnTheFirstServerWithASecondBelowIt)
{
  StartRecordingHome();
  Run(120);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/rec.txt"), "rec/volume1/rec");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles local/Local recording.rec"), "recorded on the receiver");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Second/data.txt"), "second/share/data");
  EXPECT_EQ(receiver->system_var(SYSVAR_TIMESHIFT), 1);
  EXPECT_EQ(receiver->system_var(SYSVAR_TIMESHIFT_STORAGE), 2);

  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
  EXPECT_EQ(receiver->written_system_var(SYSVAR_TIMESHIFT), 1);
  EXPECT_EQ(receiver->written_system_var(SYSVAR_TIMESHIFT_STORAGE), 2);
  ExpectGolden("recording.log", RunLog());
  ExpectGolden("recording.commands", Joined(Commands()));
}

// While the recording folder changes hands, only the shares inside it are
// taken out and put back: a film played from another folder of the second
// server keeps playing.
TEST_F(PluginRun, TheRecordingFolderChangesHandsWithoutTouchingOtherFolders)
{
  sim::NasConfig rec = Nas("rec", "192.168.178.20", "", {"/volume1/rec"});
  rec.outages = {{60, 130}};
  config.servers = {rec, Nas("second", "192.168.178.21", "", {"/share/data", "/share/video"})};
  std::string main_ini = "NAS IP-Address=192.168.178.20\r\nLocal Folder Name=Rec\r\nRemotefolder DataFiles=/volume1/rec\r\n"
                         "Mountoptions=-onolock\r\nNAS Boottime=10\r\nPing Wait=2\r\nPing Gap=30\r\nNAS Recording=1\r\n"
                         "MountDelay=5\r\nLogfile=1\r\n";
  std::string second =
      "NAS IP-Address=192.168.178.21\r\nLocal Folder Name=Second\r\nRemotefolder DataFiles=/share/data\r\n"
      "Remotefolder MediaFiles=/share/video\r\nMountoptions=-onolock\r\nNAS Boottime=10\r\nPing Wait=2\r\n"
      "Ping Gap=30\r\n";
  Start(main_ini, {second});
  Run(50);
  ASSERT_EQ(ReadFile("/mnt/hd/DataFiles/Second/data.txt"), "second/share/data");
  Run(60);  // server 1 is away: the local recording folder is back
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Local recording.rec"), "recorded on the receiver");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Second/data.txt"), "second/share/data") << "put back into the local folder";
  Run(140);  // server 1 is back and holds the recording folder again
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/rec.txt"), "rec/volume1/rec");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Second/data.txt"), "second/share/data");
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/Second/video.txt"), "second/share/video");
  EXPECT_FALSE(Ran("umount \"/mnt/hd/MediaFiles/Second\"")) << "the films stayed mounted throughout";
  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
}

// The run log lives on the recording disk: it must not grow for ever. A log
// just short of 1 MiB is written past it; the line after that starts a new
// log, nothing lost, nothing twice.
void PluginRun::ExpectLogRotation()
{
  const std::string old_line = "07.12.2026 05:45:22 -> Send Ping to 1. NAS (192.168.178.20)\r\n";
  std::string old_log;
  while(old_log.size() + old_line.size() <= 1048576 - 100) old_log += old_line;
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"})};
  Boot();
  WriteFile(kRunLog, old_log);
  WriteFile(kSettings + "Logs/Brimvale.log.1", "the log before that\r\n");
  Start(kOneServer);
  Run(60);
  std::string older = ReadFile(kSettings + "Logs/Brimvale.log.1");
  std::string log = RunLog();
  ASSERT_EQ(older.compare(0, old_log.size(), old_log), 0) << "the full log became the older one";
  EXPECT_GT(older.size(), 1048576u);
  EXPECT_LT(older.size(), 1048576u + 512);
  // Line by line, nothing lost or cut between the two files.
  std::string written = older.substr(old_log.size()) + log;
  EXPECT_NE(written.find("Brimvale 3.1 started"), std::string::npos);
  EXPECT_EQ(log.compare(0, 10, "08.12.2026"), 0) << log.substr(0, 40);
  EXPECT_NE(log.find("Mounting of 1. NAS finished successfully"), std::string::npos);
  for(size_t at = 0, end; at < written.size(); at = end + 2)
  {
    end = written.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << written.substr(at);
    EXPECT_EQ(written.compare(at + 19, 4, " -> "), 0) << written.substr(at, end - at);
  }
  EXPECT_EQ(written.find("Brimvale 3.1 started"), written.rfind("Brimvale 3.1 started")) << "a line written twice";
}

TEST_F(PluginRun, ALogPastOneMebibyteIsKeptAsTheOlderLogAndANewOneBegins)
{
  ExpectLogRotation();
}

// A host built to the plug-in interface without TAP_Hdd_Rename loads the
// plug-in all the same, and the log is copied aside instead.
TEST_F(PluginRun, OnAHostWithoutRenameTheLogIsCopiedAside)
{
  if(BRIMVALE_SANITIZE) GTEST_SKIP() << "the sanitizer build's plug-in asks the C library for dlsym by version";
  config.hdd_rename = false;
  ExpectLogRotation();
  std::vector<std::string> loader = receiver->trace().Texts(sim::TraceKind::kLoader);
  EXPECT_EQ(std::count(loader.begin(), loader.end(), "dlsym(\"TAP_Hdd_Rename\") -> not in this host"), 1);
}

TEST_F(PluginRun, RecordingFolderOnAReceiverWithAnOldCLibrary)
{
  // glibc before 2.33 exports no lstat64, only __lxstat64: the redirection,
  // which looks at /mnt/hd/DF_local and /mnt/hd/DataFiles, runs exactly as
  // with a newer C library (the same run log and commands).
  if(BRIMVALE_SANITIZE) GTEST_SKIP() << "the sanitizer build's plug-in asks the C library for dlsym by version";
  config.c_library = sim::CLibrary::kOld;
  StartRecordingHome();
  Run(120);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/rec.txt"), "rec/volume1/rec");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles local/Local recording.rec"), "recorded on the receiver");
  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
  ExpectGolden("recording.log", RunLog());
  ExpectGolden("recording.commands", Joined(Commands()));

  // The plug-in asked for lstat64 once, was told there is none, and looked
  // at the recording folders through __lxstat64.
  std::vector<std::string> loader = receiver->trace().Texts(sim::TraceKind::kLoader);
  EXPECT_EQ(std::count(loader.begin(), loader.end(), "dlsym(\"lstat64\") -> not in this C library"), 1) << "asked once";
  size_t versioned = 0, direct = 0;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kDisk))
  {
    versioned += t.rfind("__lxstat64(\"/mnt/hd/DF_local\")", 0) == 0;
    direct += t.rfind("lstat64(", 0) == 0;
  }
  EXPECT_GT(versioned, 0u);
  EXPECT_EQ(direct, 0u);
}

// A C library with neither lstat64 nor __lxstat64 (nor the stat64 pair):
// the plug-in cannot see that DF_local shows the local recordings, so the
// export never goes over them, and nothing calls what is not there.
TEST_F(PluginRun, WithoutAnyLstatTheRecordingFolderStaysLocal)
{
  if(BRIMVALE_SANITIZE) GTEST_SKIP() << "the sanitizer build's plug-in asks the C library for dlsym by version";
  config.c_library = sim::CLibrary::kNone;
  StartRecordingHome();
  Run(120);
  EXPECT_NE(RunLog().find("Local recordings not reachable at /mnt/hd/DF_local - DataFiles not mounted"),
            std::string::npos);
  EXPECT_FALSE(Ran("mount \"192.168.178.20:/volume1/rec\" \"/mnt/hd/DataFiles\" -osoft,intr,tcp,rsize=65535,nolock"));
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Local recording.rec"), "recorded on the receiver");
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "rec/volume1/video") << "the other shares mount";
  std::vector<std::string> loader = receiver->trace().Texts(sim::TraceKind::kLoader);
  for(const char *name : {"lstat64", "__lxstat64"})
    EXPECT_NE(std::find(loader.begin(), loader.end(), std::string("dlsym(\"") + name + "\") -> not in this C library"),
              loader.end())
        << name;
  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
}

// Some receivers keep their recordings elsewhere and have /mnt/hd/DataFiles
// as a symbolic link to them. The bind mount follows the link, and so must
// the check that DF_local shows the recordings before the export goes over.
TEST_F(PluginRun, ARecordingFolderThatIsASymbolicLinkIsTakenOver)
{
  const std::string link = config.root + "/mnt/hd/DataFiles";
  fs::create_directories(config.root + "/mnt/hd/Recordings");
  fs::create_directory_symlink("Recordings", link);
  StartRecordingHome();
  Run(120);
  EXPECT_EQ(RunLog().find("Local recordings not reachable"), std::string::npos) << RunLog();
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/rec.txt"), "rec/volume1/rec");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles local/Local recording.rec"), "recorded on the receiver");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/Second/data.txt"), "second/share/data");
  receiver->Stop();
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_TRUE(fs::is_symlink(link)) << "the link is left as it was";
  EXPECT_EQ(Tree("/mnt/hd/Recordings"), data_files_before_);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
}

TEST_F(PluginRun, AFailedFirstAttemptUndoesTheRedirectionCompletely)
{
  // The server refuses its first mount: the redirection of that attempt is
  // rolled back, and the second attempt starts from the receiver's own folder.
  sim::NasConfig nas = Nas("rec", "192.168.178.20", "", {"/volume1/rec", "/volume1/video", "/volume1/music"});
  nas.refuse_mounts = 1;
  config.servers = {nas};
  Start(std::string(kOneServer) + "NAS Recording=1\r\nRemotefolder DataFiles=/volume1/rec\r\n");
  Run(25);
  EXPECT_NE(RunLog().find("Reset Recording Device"), std::string::npos);
  EXPECT_EQ(receiver->disk().mounts().size(), 1u) << "nothing left of the first attempt";
  Run(60);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles local/Local recording.rec"), "recorded on the receiver");
  EXPECT_EQ(ReadFile("/mnt/hd/DF_local/Local recording.rec"), "recorded on the receiver");
  receiver->Stop();
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before_);
}

TEST_F(PluginRun, HostileSettingsAreRefusedAndNothingElseRuns)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"})};
  const std::string server2 =
      "NAS IP-Address=192.168.178.20\r\nLocal Folder Name=Evil\"; reboot; \"\r\n"
      "Remotefolder MediaFiles=/volume1/video\r\nNAS Boottime=5\r\nPing Gap=30\r\n";
  const std::string server3 =
      "NAS IP-Address=192.168.178.20\r\nLocal Folder Name=Three\r\nRemotefolder MediaFiles=/v$(reboot)\r\n"
      "Remotefolder MP3Files=/volume1/music\r\nMountoptions=-onolock;reboot\r\nNAS Boottime=5\r\nPing Gap=30\r\n";
  const std::string server4 =
      "NAS IP-Address=192.168.178.20 -c 9\r\nNAS MAC-Address=00:11:32:aa:bb:cc;reboot\r\nLocal Folder Name=Four\r\n"
      "Remotefolder MediaFiles=/volume1/video\r\nNAS Boottime=5\r\nPing Gap=30\r\n";
  const std::string server5 =
      "NAS IP-Address=192.168.178.20\r\nLocal Folder Name=../../ProgramFiles\r\n"
      "Remotefolder MediaFiles=/volume1/video\r\nNAS Boottime=5\r\nPing Gap=30\r\n";
  Start(kOneServer, {server2, server3, server4, server5});
  Run(60);
  for(const std::string &c : Commands())
  {
    EXPECT_EQ(c.find("reboot"), std::string::npos) << c;
    EXPECT_EQ(c.find("$("), std::string::npos) << c;
    EXPECT_EQ(c.find("ProgramFiles\""), std::string::npos) << c;
  }
  std::string log = RunLog();
  EXPECT_NE(log.find("2. NAS: \"Local Folder Name\" holds characters a command cannot take"), std::string::npos);
  EXPECT_NE(log.find("3. NAS: \"Remotefolder MediaFiles\" holds characters a command cannot take"), std::string::npos);
  EXPECT_NE(log.find("3. NAS: \"Mountoptions\" holds characters"), std::string::npos);
  EXPECT_NE(log.find("4. NAS: \"NAS IP-Address\" holds characters"), std::string::npos);
  EXPECT_NE(log.find("4. NAS: \"NAS MAC-Address\" holds characters"), std::string::npos);
  EXPECT_NE(log.find("5. NAS: \"Local Folder Name\" must be a plain folder name"), std::string::npos);
  EXPECT_NE(log.find("4. NAS (192.168.178.20 -c 9) is offline"), std::string::npos) << "a refused probe is offline";
  // The legitimate server still works.
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/DiskStation/video.txt"), "diskstation/volume1/video");
  ExpectGolden("hostile.log", RunLog());
  ExpectGolden("hostile.commands", Joined(Commands()));
}

TEST_F(PluginRun, AnIdleEventWithNothingDueDoesNoWork)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "00:11:32:aa:bb:cc", {"/volume1/video", "/volume1/music"})};
  Start(kOneServer);
  Run(20);  // mounted; next probe after the ping gap, next wake-up after 100 s
  receiver->trace().Clear();
  Run(9);  // 90 idle events, nothing due
  for(const sim::TraceEntry &e : receiver->trace().entries())
  {
    EXPECT_NE(e.kind, sim::TraceKind::kDisk) << e.text;
    EXPECT_NE(e.kind, sim::TraceKind::kShell) << e.text;
    EXPECT_NE(e.kind, sim::TraceKind::kMemory) << e.text;
    EXPECT_NE(e.kind, sim::TraceKind::kFile) << e.text;
  }
}

TEST_F(PluginRun, NoSignalToProcessZeroWhenPortmapWasNotFound)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "", {"/volume1/video", "/volume1/music"})};
  Boot();
  // A receiver whose process list cannot be read.
  receiver->shell().AddTool("ps", [](sim::ToolCall &call) {
    call.err = "ps: not available";
    return 1;
  });
  Start(kOneServer);
  Run(5);
  receiver->Stop();
  for(const std::string &c : Commands()) EXPECT_NE(c.rfind("kill", 0), 0u) << c;
  EXPECT_NE(RunLog().find("Brimvale terminated"), std::string::npos);
}

TEST_F(PluginRun, KeysPassUntouchedThroughTheHook)
{
  config.servers = {Nas("diskstation", "192.168.178.20", "", {"/volume1/video"})};
  Start(kOneServer);
  EXPECT_EQ(receiver->Key(0x10024), 0x10024u);
  EXPECT_EQ(receiver->task_row()[TAP_TASK_HANDLER_WORD] != 0, true);
}

}  // namespace
