// The simulated home network and the receiver's tools that reach it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

class NetworkTest : public SimTest {
 protected:
  // A NAS with one export holding one file.
  sim::NasConfig Nas(const std::string &name, const std::string &address, const std::string &mac = "")
  {
    sim::NasConfig nas;
    nas.name = name;
    nas.address = address;
    nas.mac = mac;
    std::string dir = sandbox.path() + "/" + name + "/video";
    fs::create_directories(dir + "/sub");
    std::ofstream(dir + "/film.ts") << name;
    nas.exports["/volume1/video"] = dir;
    return nas;
  }

  std::string PingReport(const std::string &address, int wait = 3)
  {
    std::string command = "ping -c1 -W" + std::to_string(wait) + " " + address + " > /mnt/hd/p.ping";
    system(command.c_str());
    return ReadFile("/mnt/hd/p.ping");
  }
};

TEST_F(NetworkTest, PingReportIsLongWithAReplyAndShortWithout)
{
  config.servers = {Nas("nas1", "192.168.178.20")};
  config.internet = false;
  sim::Receiver &r = Boot();
  uint32_t tick = r.clock().tick();
  EXPECT_GT(PingReport("192.168.178.20").size(), 200u);
  EXPECT_LE(r.clock().tick() - tick, 5u) << "a reply takes milliseconds";

  tick = r.clock().tick();
  EXPECT_LT(PingReport("192.168.178.99", 3).size(), 200u);
  EXPECT_EQ(r.clock().tick() - tick, 300u) << "no reply waits the whole time-out";
  EXPECT_LT(PingReport("8.8.4.4", 1).size(), 200u) << "the internet is down";
}

TEST_F(NetworkTest, ExitStatusOfPing)
{
  config.servers = {Nas("nas1", "nas.local")};
  Boot();
  EXPECT_EQ(system("ping -c1 -W1 nas.local > /mnt/hd/x"), 0);
  EXPECT_EQ(system("ping -c1 -W1 8.8.8.8 > /mnt/hd/x"), 0) << "the internet answers";
  EXPECT_NE(system("ping -c1 -W1 unknown.example > /mnt/hd/x"), 0) << "nobody the network knows";
  EXPECT_NE(system("ping -c1 -Wx nas.local"), 0);
  EXPECT_NE(system("ping -c1"), 0);
}

TEST_F(NetworkTest, SleepingServerWakesOnItsMacAndBoots)
{
  sim::NasConfig nas = Nas("nas1", "192.168.178.20", "00:11:32:aa:bb:cc");
  nas.asleep = true;
  nas.boot_seconds = 40;
  config.servers = {nas};
  sim::Receiver &r = Boot();
  WriteFile("/mnt/hd/ProgramFiles/busybox", "");
  fs::permissions(HostPath("/mnt/hd/ProgramFiles/busybox"), fs::perms::owner_all);

  EXPECT_LT(PingReport("192.168.178.20", 1).size(), 200u);
  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox ether-wake 00:11:32:AA:BB:00"), 0) << "another MAC";
  r.clock().Advance(6000);
  EXPECT_LT(PingReport("192.168.178.20", 1).size(), 200u);

  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox ether-wake 00-11-32-aa-bb-cc"), 0);
  r.clock().Advance(3900);
  EXPECT_LT(PingReport("192.168.178.20", 1).size(), 200u) << "still booting";
  r.clock().Advance(100);
  EXPECT_GT(PingReport("192.168.178.20", 1).size(), 200u);
  EXPECT_EQ(r.network().State("nas1")->wake_packets, 1);

  EXPECT_NE(system("/mnt/hd/ProgramFiles/busybox ether-wake not-a-mac"), 0);
  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox reboot"), 127 << 8);
}

TEST_F(NetworkTest, OutagesComeAndGo)
{
  sim::NasConfig nas = Nas("nas1", "192.168.178.20");
  nas.outages = {{100, 200}};
  config.servers = {nas};
  sim::Receiver &r = Boot();
  EXPECT_TRUE(r.network().Answers("192.168.178.20", r.clock().uptime()));
  r.clock().Advance(10000);
  EXPECT_FALSE(r.network().Answers("192.168.178.20", r.clock().uptime()));
  r.clock().Advance(10000);
  EXPECT_TRUE(r.network().Answers("192.168.178.20", r.clock().uptime()));
}

TEST_F(NetworkTest, NfsMountShowsTheExportUntilUnmounted)
{
  sim::NasConfig nas = Nas("nas1", "192.168.178.20");
  nas.refuse_mounts = 1;
  config.servers = {nas};
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/MediaFiles/NAS");
  const char *mount = "mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/MediaFiles/NAS\" -osoft,intr,tcp,rsize=65535,nolock";
  EXPECT_NE(system(mount), 0) << "refused while its NFS service starts";
  EXPECT_EQ(system(mount), 0);
  EXPECT_EQ(ReadFile("/mnt/hd/MediaFiles/NAS/film.ts"), "nas1");
  ASSERT_EQ(r.disk().mounts().size(), 2u);
  EXPECT_EQ(r.disk().mounts()[1].source, "192.168.178.20:/volume1/video");
  EXPECT_EQ(r.disk().mounts()[1].options, "soft,intr,tcp,rsize=65535,nolock");

  EXPECT_EQ(system("umount \"/mnt/hd/MediaFiles/NAS\""), 0);
  EXPECT_FALSE(Exists("/mnt/hd/MediaFiles/NAS/film.ts"));
  EXPECT_NE(system("umount \"/mnt/hd/MediaFiles/NAS\""), 0) << "nothing mounted any more";
}

TEST_F(NetworkTest, NfsMountFailures)
{
  sim::NasConfig nas = Nas("nas1", "192.168.178.20");
  nas.outages = {{0, 10}};
  config.servers = {nas};
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/MediaFiles/NAS");
  const struct {
    const char *line;
    const char *why;
  } cases[] = {
    {"mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/MediaFiles/NAS\" -onolock", "server not up yet"},
    {"mount \"192.168.178.21:/volume1/video\" \"/mnt/hd/MediaFiles/NAS\"", "no such server"},
    {"mount \"192.168.178.20:/volume1/music\" \"/mnt/hd/MediaFiles/NAS\"", "not exported"},
    {"mount \"192.168.178.20:/volume1/video/../..\" \"/mnt/hd/MediaFiles/NAS\"", "out of the export"},
    {"mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/MediaFiles/Missing\"", "no mount point"},
    {"mount \"/volume1/video\" \"/mnt/hd/MediaFiles/NAS\"", "no server named"},
  };
  for(const auto &c : cases) EXPECT_NE(system(c.line), 0) << c.why;
  EXPECT_EQ(r.disk().mounts().size(), 1u);
  r.clock().Advance(1000);
  EXPECT_EQ(system(cases[0].line), 0);
  EXPECT_EQ(system("mount \"192.168.178.20:/volume1/video/sub\" \"/mnt/hd/MediaFiles/NAS\""), 0) << "a folder below an export";
}

TEST_F(NetworkTest, RecordingRedirectionWithBindMounts)
{
  config.servers = {Nas("nas1", "192.168.178.20")};
  sim::Receiver &r = Boot();
  WriteFile("/mnt/hd/DataFiles/rec1.rec", "local recording");
  const std::string before = ReadFile("/mnt/hd/DataFiles/rec1.rec");
  const char *forward[] = {
    "mkdir /mnt/hd/DF_local",
    "mount -o bind /mnt/hd/DataFiles /mnt/hd/DF_local",
    "mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/DataFiles\" -osoft",
    "mkdir \"/mnt/hd/DataFiles/DataFiles local\"",
    "mount -o bind /mnt/hd/DF_local \"/mnt/hd/DataFiles/DataFiles local\"",
  };
  for(const char *line : forward) ASSERT_EQ(system(line), 0) << line;
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/film.ts"), "nas1");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles local/rec1.rec"), before);
  EXPECT_NE(system("umount \"/mnt/hd/DataFiles\""), 0) << "busy while the local folder is bound below it";
  EXPECT_NE(system("umount -x \"/mnt/hd/DataFiles\""), 0) << "not an option umount has";

  const char *back[] = {
    "umount \"/mnt/hd/DataFiles/DataFiles local\"", "rmdir \"/mnt/hd/DataFiles/DataFiles local\"",
    "umount \"/mnt/hd/DF_local\"", "rmdir \"/mnt/hd/DF_local\"", "umount \"/mnt/hd/DataFiles\"",
  };
  for(const char *line : back) EXPECT_EQ(system(line), 0) << line;
  EXPECT_EQ(r.disk().mounts().size(), 1u);
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/rec1.rec"), before);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
}

// The plug-in's last word on a share that will not unmount: forced and lazy,
// which takes whatever is mounted inside it along.
TEST_F(NetworkTest, ALazyUnmountDetachesTheWholeTree)
{
  config.servers = {Nas("nas1", "192.168.178.20")};
  sim::Receiver &r = Boot();
  ASSERT_EQ(system("mkdir /mnt/hd/DF_local"), 0);
  ASSERT_EQ(system("mount \"192.168.178.20:/volume1/video\" \"/mnt/hd/DataFiles\" -osoft"), 0);
  ASSERT_EQ(system("mkdir \"/mnt/hd/DataFiles/DF\""), 0);
  ASSERT_EQ(system("mount -o bind /mnt/hd/DF_local \"/mnt/hd/DataFiles/DF\""), 0);
  EXPECT_NE(system("umount \"/mnt/hd/DataFiles\""), 0);
  EXPECT_EQ(system("umount -f -l \"/mnt/hd/DataFiles\""), 0);
  EXPECT_EQ(r.disk().mounts().size(), 1u);
  EXPECT_NE(system("umount -f -l \"/mnt/hd/DataFiles\""), 0) << "nothing mounted there any more";
}

TEST_F(NetworkTest, PortmapPsAndKill)
{
  sim::Receiver &r = Boot();
  EXPECT_EQ(system("portmap"), 0);
  EXPECT_NE(system("portmap"), 0) << "already running";
  ASSERT_EQ(system("ps > /mnt/hd/ps.txt"), 0);
  std::string ps = ReadFile("/mnt/hd/ps.txt");
  const sim::Process *portmap = r.processes().Find("portmap");
  ASSERT_NE(portmap, nullptr);
  // The number right-aligned in the first five columns, the command from column 33 (counted from 0).
  char line[64];
  std::snprintf(line, sizeof(line), "\n%5d ", portmap->pid);
  size_t at = ps.find(line);
  ASSERT_NE(at, std::string::npos) << ps;
  EXPECT_EQ(ps.compare(at + 1 + 33, 8, "portmap\n"), 0) << ps;

  std::string kill = "kill -15 " + std::to_string(portmap->pid);
  EXPECT_EQ(system(kill.c_str()), 0);
  EXPECT_EQ(r.processes().Find("portmap"), nullptr);
  EXPECT_NE(system(kill.c_str()), 0) << "no such process any more";
  EXPECT_NE(system("kill -15 0"), 0) << "a whole process group is never signalled";
  EXPECT_NE(r.processes().Find("init"), nullptr);
  EXPECT_NE(system("kill -15 abc"), 0);
}

}  // namespace
