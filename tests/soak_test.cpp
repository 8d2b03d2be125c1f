// A month in the life of the shipped Brimvale.tap: nine NAS servers that drop
// out, fall asleep, wake up and refuse mounts at moments drawn from a seeded
// generator, with the plug-in's observable state checked after every idle
// event that did anything, and the receiver checked again after the stop
// request.
//
// The run is 30 virtual days natively; BRIMVALE_SOAK_DAYS overrides it. The
// sanitizer build runs 3 days and the mipsel build under qemu 1 day unless
// told otherwise.
// BRIMVALE_SOAK_SEED replays another seed. The native month's counts are
// the ones in docs/figures.md (scripts/figures.sh soak writes them).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "figures.h"
#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/Brimvale";
const std::string kRunLog = kSettings + "/Logs/Brimvale.log";
const std::array<std::string, 4> kRoots = {"MediaFiles", "MP3Files", "PhotoFiles", "DataFiles"};
constexpr int kData = 3;
constexpr uint64_t kDay = 86400;
const std::string kLocalRecordings = "DataFiles local";

#if defined(__mips__)
constexpr int kDefaultDays = 1;  // qemu-user runs it some fifteen times slower
#elif defined(BRIMVALE_SANITIZE)
constexpr int kDefaultDays = 3;
#else
constexpr int kDefaultDays = 30;
#endif
constexpr uint64_t kDefaultSeed = 20261208;

uint64_t EnvNumber(const char *name, uint64_t fallback)
{
  const char *text = getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// One server as the test configures it on both sides: the plug-in's settings
// file and the simulated NAS.
struct Plan {
  int n = 0;
  std::string name, address, mac, local;
  std::array<std::string, 4> remote;  // export per share; empty = not configured
  int boot = 30, wait = 3, gap = 30;
};

struct Mount {
  std::string point, type, source;
  bool operator<(const Mount &o) const { return std::tie(point, type, source) < std::tie(o.point, o.type, o.source); }
  bool operator==(const Mount &o) const { return std::tie(point, type, source) == std::tie(o.point, o.type, o.source); }
};

// What the plug-in shows of itself, read from its run log and the receiver's
// mount table, and the rules the two must keep. Every fault found is
// collected in `violations` with the virtual time it was seen at.
class Checker {
 public:
  Checker(std::vector<Plan> plans, bool recording) : plans_(std::move(plans)), recording_(recording)
  {
    mounted_.assign(plans_.size() + 1, false);
    given_up_.assign(plans_.size() + 1, false);
  }

  // The mounts server n holds while it counts as mounted.
  std::set<Mount> Expected(int n) const
  {
    const Plan &p = plans_[n - 1];
    std::set<Mount> out;
    for(int k = 0; k < 4; ++k)
    {
      if(p.remote[k].empty()) continue;
      if(recording_ && n == 1 && k == kData)
      {
        out.insert({"/mnt/hd/DataFiles", "nfs", p.address + ":" + p.remote[k]});
        out.insert({"/mnt/hd/DF_local", "bind", "/mnt/hd/DataFiles"});
        out.insert({"/mnt/hd/DataFiles/" + kLocalRecordings, "bind", "/mnt/hd/DF_local"});
      }
      else
        out.insert({"/mnt/hd/" + kRoots[k] + "/" + p.local, "nfs", p.address + ":" + p.remote[k]});
    }
    return out;
  }

  // Reads the log lines added since the last call and applies them.
  void ReadLog(const std::string &host_log, const std::string &when)
  {
    std::ifstream in(host_log, std::ios::binary);
    if(!in) return;
    std::string added;
    // Past 1 MiB the log was kept as Brimvale.log.1 and a new one begun: the
    // old one's last lines first.
    std::error_code ec;
    if(fs::file_size(host_log, ec) < log_offset_)
    {
      std::ifstream older(host_log + ".1", std::ios::binary);
      older.seekg(static_cast<std::streamoff>(log_offset_));
      added.assign(std::istreambuf_iterator<char>(older), std::istreambuf_iterator<char>());
      ++rotations;
      log_offset_ = 0;
    }
    in.seekg(static_cast<std::streamoff>(log_offset_));
    size_t before = added.size();
    added.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    size_t read_now = added.size() - before;
    size_t start = 0;
    for(size_t end; (end = added.find("\r\n", start)) != std::string::npos; start = end + 2)
      Line(added.substr(start, end - start), when);
    // Every WriteLog is one whole line: nothing may be left over between events.
    if(start != added.size()) Violation(when, "run log ends in a cut line: \"" + added.substr(start) + "\"");
    log_offset_ += read_now;
  }

  // The mount table against what the log says, and nothing mounted twice.
  void CheckMounts(const std::vector<sim::MountEntry> &table, const std::string &when)
  {
    std::map<int, std::set<Mount>> held;
    std::map<std::string, int> points;
    for(size_t k = 1; k < table.size(); ++k)
    {
      const sim::MountEntry &m = table[k];
      if(++points[m.point] == 2) Violation(when, "mounted twice on " + m.point);
      int owner = 0;
      if(m.type == "bind")
        owner = 1;  // only the recording redirection binds
      else
        for(const Plan &p : plans_)
          if(m.source.compare(0, p.address.size() + 1, p.address + ":") == 0) owner = p.n;
      if(owner == 0)
        Violation(when, "mount nobody made: " + m.source + " on " + m.point);
      else
        held[owner].insert({m.point, m.type, m.source});
    }
    for(const Plan &p : plans_)
    {
      const std::set<Mount> &has = held[p.n];
      if(mounted_[p.n] && has != Expected(p.n))
        Violation(when, std::to_string(p.n) + ". NAS counts as mounted but holds " + Describe(has));
      // A server given up keeps nothing, as every attempt in this run fails
      // as a whole; only the recording server's third attempt leaves the
      // local folder bound to DF_local until the stop request.
      const std::set<Mount> kept = {{"/mnt/hd/DF_local", "bind", "/mnt/hd/DataFiles"}};
      if(!mounted_[p.n] && !has.empty() && !(given_up_[p.n] && recording_ && p.n == 1 && has == kept))
        Violation(when, std::to_string(p.n) + ". NAS counts as not mounted but holds " + Describe(has));
    }
  }

  // No probe or process-list file outlives the event that made it.
  void CheckSettingsFolder(const std::string &host_folder, const std::string &when)
  {
    std::error_code ec;
    for(const auto &e : fs::directory_iterator(host_folder, ec))
    {
      std::string file = e.path().filename().string();
      if(file == "ps.txt" || (file.size() > 5 && file.compare(file.size() - 5, 5, ".ping") == 0))
        Violation(when, file + " left in the settings folder");
    }
  }

  void Violation(const std::string &when, const std::string &what)
  {
    if(violations.size() < 50) violations.push_back(when + ": " + what);
  }

  bool mounted(int n) const { return mounted_[n]; }
  std::vector<std::string> violations;
  uint64_t lines = 0, attempts = 0, mounts = 0, unmounts = 0, given_up = 0, rotations = 0;

 private:
  static std::string Describe(const std::set<Mount> &mounts)
  {
    std::string out = "{";
    for(const Mount &m : mounts) out += " " + m.source + " on " + m.point + " (" + m.type + ")";
    return out + " }";
  }

  void Line(const std::string &line, const std::string &when)
  {
    ++lines;
    int d, mo, y, h, mi, s, used = 0;
    if(line.size() < 23 || std::sscanf(line.c_str(), "%2d.%2d.%4d %2d:%2d:%2d -> %n", &d, &mo, &y, &h, &mi, &s, &used) != 6 ||
       used != 23 || line[2] != '.' || line[5] != '.' || line[13] != ':' || line[16] != ':' ||
       line.find_first_of("\r\n") != std::string::npos)
    {
      Violation(when, "malformed run log line: \"" + line + "\"");
      return;
    }
    // Lines come in the order they happened: no line was merged into another
    // or written out of turn.
    std::string stamp = line.substr(6, 4) + line.substr(3, 2) + line.substr(0, 2) + line.substr(11, 8);
    if(stamp < last_stamp_) Violation(when, "run log goes back in time: \"" + line + "\"");
    last_stamp_ = stamp;

    std::string text = line.substr(23);
    int n = 0;
    char rest[64] = "";
    if(std::sscanf(text.c_str(), "Start mounting of %d. NAS", &n) == 1)
      ++attempts;
    else if(std::sscanf(text.c_str(), "Unmounting of %d. NAS%63s", &n, rest) == 1 && Valid(n))
    {
      ++unmounts;
      mounted_[n] = false;
    }
    else if(std::sscanf(text.c_str(), "Mounting of %d. NAS %63[a-z ]", &n, rest) == 2 && Valid(n))
    {
      if(std::string(rest) == "finished successfully")
      {
        ++mounts;
        mounted_[n] = true;
        given_up_[n] = false;
      }
      else if(std::string(rest) == "failed")
      {
        ++given_up;
        given_up_[n] = true;
      }
    }
  }

  bool Valid(int n) const { return n >= 1 && n <= static_cast<int>(plans_.size()); }

  std::vector<Plan> plans_;
  bool recording_;
  std::vector<bool> mounted_, given_up_;
  uint64_t log_offset_ = 0;
  std::string last_stamp_;
};


class Soak : public SimTest {
 protected:
  Soak()
  {
    config.year = 2026, config.month = 12, config.day = 1;
    config.hour = 18, config.minute = 0, config.second = 0;
    config.uptime_ticks = 60000;
  }

  // Nine servers: server 1 holds the recording folder; the others have a
  // random choice of shares, several of them DataFiles below the recording
  // folder. Servers with a MAC sleep now and then.
  void MakePlans(std::mt19937_64 &rng)
  {
    auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::array<std::string, 4> exports = {"/volume1/video", "/volume1/music", "/volume1/photo", "/volume1/rec"};
    for(int n = 1; n <= 9; ++n)
    {
      Plan p;
      p.n = n;
      p.name = "nas" + std::to_string(n);
      p.address = "192.168.178." + std::to_string(20 + n);
      // Every server with a MAC gets a wake-up packet every 100 s: two keep
      // the month affordable.
      p.mac = n == 1 || n == 6 ? "00:11:32:aa:bb:0" + std::to_string(n) : "";
      p.local = "Nas" + std::to_string(n);
      for(int k = 0; k < 4; ++k)
        if(n == 1 || uniform(0, 2) != 0) p.remote[k] = exports[k];
      if(n > 1 && n <= 4) p.remote[kData] = exports[kData];  // some always below the recording folder
      p.boot = n == 1 ? uniform(5, 30) : uniform(0, 60);
      p.wait = uniform(1, 3);
      // Probes every three to five minutes keep a month's run log at some
      // twenty thousand lines per server, and the run affordable.
      p.gap = uniform(180, 300);
      plans.push_back(p);
    }
  }

  // Outages, sleeps and mount refusals over the whole run.
  sim::NasConfig Server(const Plan &p, std::mt19937_64 &rng, double seconds)
  {
    sim::NasConfig nas;
    nas.name = p.name;
    nas.address = p.address;
    nas.mac = p.mac;
    for(int k = 0; k < 4; ++k)
    {
      if(p.remote[k].empty()) continue;
      std::string dir = sandbox.path() + "/nas/" + p.name + p.remote[k];
      fs::create_directories(dir);
      std::ofstream(dir + "/" + kRoots[k] + ".txt") << p.name << p.remote[k];
      nas.exports[p.remote[k]] = dir;
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto gaps = [&](double per_day) { return std::exponential_distribution<double>(per_day / kDay); };
    // Refusals are shorter than two retries apart, so that one refusal
    // alone never makes the plug-in give a server up. Most come while a
    // server's NFS service starts after it was away, when a mount is due.
    auto refuse = [&](double from) {
      nas.refusals.push_back({from, from + 5 + 45 * unit(rng)});
      ++refusals;
    };
    // Outages from 20 s to 2 h, log-uniform: most short, some long.
    auto outage_gap = gaps(3);
    for(double t = outage_gap(rng); t < seconds; t += outage_gap(rng))
    {
      double length = 20 * std::pow(360.0, unit(rng));
      nas.outages.push_back({t, t + length});
      t += length;
      ++outages;
      if(unit(rng) < 0.4) refuse(t);
    }
    if(!p.mac.empty())
    {
      nas.asleep = unit(rng) < 0.5;
      nas.boot_seconds = 20 + 70 * unit(rng);
      auto sleep_gap = gaps(2);
      for(double t = sleep_gap(rng); t < seconds; t += sleep_gap(rng))
      {
        nas.sleeps.push_back(t);
        ++sleeps;
      }
    }
    auto refusal_gap = gaps(0.5);
    for(double t = refusal_gap(rng); t < seconds; t += refusal_gap(rng)) refuse(t);
    return nas;
  }

  std::string Ini(const Plan &p) const
  {
    std::string ini = "NAS IP-Address=" + p.address + "\r\n";
    if(!p.mac.empty()) ini += "NAS MAC-Address=" + p.mac + "\r\n";
    ini += "Local Folder Name=" + p.local + "\r\n";
    for(int k = 0; k < 4; ++k)
      if(!p.remote[k].empty()) ini += "Remotefolder " + kRoots[k] + "=" + p.remote[k] + "\r\n";
    ini += "Mountoptions=-osoft,intr,tcp,nolock\r\n";
    ini += "NAS Boottime=" + std::to_string(p.boot) + "\r\nPing Wait=" + std::to_string(p.wait) +
           "\r\nPing Gap=" + std::to_string(p.gap) + "\r\n";
    if(p.n == 1) ini += "NAS Recording=1\r\nMountDelay=5\r\nLogfile=1\r\n";
    return ini;
  }

  // The receiver's own recordings, and the firmware's values of 17 and 18.
  void Start()
  {
    Boot();
    WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat", sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes());
    WriteFile("/mnt/hd/ProgramFiles/busybox", "busybox stand-in\n");
    WriteFile("/mnt/hd/DataFiles/Evening news.rec", std::string(300, 'n'));
    WriteFile("/mnt/hd/DataFiles/Films/Casablanca.rec", "as time goes by");
    WriteFile("/mnt/hd/DataFiles/TimeShift/0.rec", "");
    for(const Plan &p : plans)
      WriteFile(kSettings + "/" + (p.n == 1 ? std::string("Brimvale.ini") : std::to_string(p.n) + ".ini"), Ini(p));
    local_data_ = config.root + "/mnt/hd/DataFiles";
    data_before_ = HostTree(local_data_);
    LoadTap();
    TAP_SetSystemVar(SYSVAR_TIMESHIFT, 1);
    TAP_SetSystemVar(SYSVAR_TIMESHIFT_STORAGE, 2);
    TAP_WriteSystemVar();
    ASSERT_EQ(receiver->Start(), 1);
    ASSERT_FALSE(receiver->ended());
  }

  std::string When() const { return receiver->clock().LocalText(); }

  // One idle event a second; the checks run after every event that made the
  // receiver do anything (an event that did nothing cannot have changed what
  // is checked: the trace records every call that touches disk, shell or
  // mounts).
  void Run(Checker &checker, uint64_t seconds)
  {
    const std::string log = HostPath(kRunLog), folder = HostPath(kSettings);
    for(uint64_t s = 0; s < seconds && !receiver->ended(); ++s)
    {
      receiver->clock().Advance(100);
      receiver->Idle();
      ++idle_events;
      if(receiver->trace().entries().empty()) continue;
      ++checks;
      receiver->trace().Clear();
      std::string when = When();
      checker.ReadLog(log, when);
      checker.CheckMounts(receiver->disk().mounts(), when);
      checker.CheckSettingsFolder(folder, when);
      if(checker.violations.size() >= 50) return;
    }
  }

  // After the stop request: nothing mounted, the local recordings as they
  // were, 17 and 18 as the firmware had them.
  void CheckAfterStop(Checker &checker)
  {
    std::string when = "after stop";
    checker.ReadLog(HostPath(kRunLog), when);
    if(receiver->disk().mounts().size() != 1)
      checker.Violation(when, std::to_string(receiver->disk().mounts().size() - 1) + " mounts left");
    checker.CheckSettingsFolder(HostPath(kSettings), when);
    if(HostTree(local_data_) != data_before_) checker.Violation(when, "local DataFiles changed:\n" + HostTree(local_data_));
    if(Exists("/mnt/hd/DF_local")) checker.Violation(when, "/mnt/hd/DF_local left behind");
    if(receiver->written_system_var(SYSVAR_TIMESHIFT) != 1 || receiver->written_system_var(SYSVAR_TIMESHIFT_STORAGE) != 2 ||
       receiver->system_var(SYSVAR_TIMESHIFT) != 1 || receiver->system_var(SYSVAR_TIMESHIFT_STORAGE) != 2)
      checker.Violation(when, "system variables 17 and 18 not restored");
    if(receiver->live_allocations() != 0)
      checker.Violation(when, std::to_string(receiver->live_allocations()) + " blocks still allocated");
    if(receiver->processes().Find("portmap") != nullptr) checker.Violation(when, "portmap still running");
  }

  void Prepare(uint64_t seed, double seconds)
  {
    std::mt19937_64 rng(seed);
    MakePlans(rng);
    for(const Plan &p : plans) config.servers.push_back(Server(p, rng, seconds));
  }

  static std::string Report(const Checker &checker)
  {
    std::string out;
    for(const std::string &v : checker.violations) out += v + "\n";
    return out;
  }

  std::vector<Plan> plans;
  uint64_t outages = 0, sleeps = 0, refusals = 0, idle_events = 0, checks = 0;
  std::string local_data_, data_before_;
};

TEST_F(Soak, ThirtyDaysOfNineServersComingAndGoing)
{
  const uint64_t seed = EnvNumber("BRIMVALE_SOAK_SEED", kDefaultSeed);
  const uint64_t days = EnvNumber("BRIMVALE_SOAK_DAYS", kDefaultDays);
  std::cout << "soak: seed " << seed << ", " << days << " days (BRIMVALE_SOAK_SEED, BRIMVALE_SOAK_DAYS)" << std::endl;
  auto started = std::chrono::steady_clock::now();

  Prepare(seed, static_cast<double>(days * kDay));
  Start();
  Checker checker(plans, true);
  Run(checker, days * kDay);
  EXPECT_TRUE(checker.violations.empty()) << Report(checker);
  receiver->Stop();
  CheckAfterStop(checker);
  EXPECT_TRUE(checker.violations.empty()) << Report(checker);

  uint64_t wakes = 0;
  for(const Plan &p : plans) wakes += receiver->network().State(p.name)->wake_packets;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::vector<std::pair<std::string, uint64_t>> counts = {
      {"seed", seed},         {"days", days},           {"idle_events", idle_events}, {"checks", checks},
      {"outages", outages},   {"sleeps", sleeps},       {"refusals", refusals},       {"wake_packets", wakes},
      {"attempts", checker.attempts}, {"mounts", checker.mounts}, {"unmounts", checker.unmounts},
      {"given_up", checker.given_up}, {"log_lines", checker.lines}, {"log_rotations", checker.rotations}};
  std::string rows;
  std::vector<figures::Count> recorded;
  for(const auto &[name, value] : counts)
  {
    RecordProperty(name, std::to_string(value));
    std::cout << "soak: " << name << " " << value << "\n";
    rows += "| `" + name + "` | " + (name == "seed" ? std::to_string(value) : figures::Grouped(value)) + " |\n";
    recorded.push_back({name, 0, value});
  }
  RecordProperty("wall_seconds", std::to_string(wall));
  std::cout << "soak: wall_seconds " << wall << std::endl;
  // The month's counts follow from the seed and the code alone: written into
  // docs/figures.md by scripts/figures.sh soak, checked against it otherwise.
  if(!figures::OutputFolder().empty())
  {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", wall);
    EXPECT_TRUE(figures::Write("soak.md", rows + "| wall seconds (a timing, not checked) | " + seconds + " |\n"));
  }
  else if(figures::Described() && seed == kDefaultSeed && days == kDefaultDays)
  {
    std::string stale = figures::Stale("soak", recorded, "scripts/figures.sh soak");
    EXPECT_TRUE(stale.empty()) << stale;
  }
  // A run in which nothing came and went proves nothing.
  EXPECT_GT(checker.mounts, 9 * days);
  EXPECT_GT(checker.unmounts, 9 * days);
  // The log was kept within its limit on the way (about 1.3 MB a day here).
  if(days >= 2) EXPECT_GT(checker.rotations, 0u);
}

// The checks themselves: each catches the fault it is there for.
class SoakChecks : public Soak {
 protected:
  void SetUp() override
  {
    Prepare(kDefaultSeed, 2 * 3600.0);
    for(sim::NasConfig &nas : config.servers)
    {
      // Up and willing for the first hour.
      nas.asleep = false;
      nas.outages.clear();
      nas.sleeps.clear();
      nas.refusals.clear();
    }
    Start();
  }
};

TEST_F(SoakChecks, AHandMadeSecondMountIsCaught)
{
  Checker checker(plans, true);
  Run(checker, 600);
  ASSERT_TRUE(checker.violations.empty()) << Report(checker);
  ASSERT_TRUE(checker.mounted(2));
  std::string error;
  const std::string point = "/mnt/hd/MediaFiles/" + plans[1].local;
  const sim::MountEntry *first = nullptr;
  for(const sim::MountEntry &m : receiver->disk().mounts())
    if(m.point == point) first = &m;
  ASSERT_NE(first, nullptr);
  sim::MountEntry copy = *first;
  ASSERT_TRUE(receiver->disk().Mount(copy.point, copy.host_dir, copy.source, copy.type, copy.options, &error));
  checker.CheckMounts(receiver->disk().mounts(), "now");
  ASSERT_FALSE(checker.violations.empty());
  EXPECT_NE(checker.violations[0].find("mounted twice on " + point), std::string::npos) << checker.violations[0];
}

TEST_F(SoakChecks, AMountThePluginDoesNotOwnUpIsCaught)
{
  Checker checker(plans, true);
  Run(checker, 600);
  ASSERT_TRUE(checker.violations.empty()) << Report(checker);
  // Server 2 unmounted behind the plug-in's back.
  std::string error;
  ASSERT_TRUE(receiver->disk().Unmount("/mnt/hd/DataFiles/" + plans[1].local, &error)) << error;
  checker.CheckMounts(receiver->disk().mounts(), "now");
  ASSERT_EQ(checker.violations.size(), 1u);
  EXPECT_NE(checker.violations[0].find("2. NAS counts as mounted but holds"), std::string::npos);
}

TEST_F(SoakChecks, LeftoverFilesAndBrokenLogLinesAreCaught)
{
  Checker checker(plans, true);
  Run(checker, 120);
  ASSERT_TRUE(checker.violations.empty()) << Report(checker);
  auto last = [&checker]() { return checker.violations.empty() ? std::string() : checker.violations.back(); };
  auto append = [this](const std::string &text) {
    std::ofstream(HostPath(kRunLog), std::ios::binary | std::ios::app) << text;
  };

  WriteFile(kSettings + "/3.ping", "PING");
  checker.CheckSettingsFolder(HostPath(kSettings), "now");
  ASSERT_EQ(checker.violations.size(), 1u);
  EXPECT_NE(last().find("3.ping left"), std::string::npos) << last();

  append("01.12.2026 18:02:00 -> cut off");
  checker.ReadLog(HostPath(kRunLog), "now");
  ASSERT_EQ(checker.violations.size(), 2u);
  EXPECT_NE(last().find("cut line"), std::string::npos) << last();

  append("1.12.2026 18:02:00 -> short date\r\n");
  checker.ReadLog(HostPath(kRunLog), "now");
  ASSERT_EQ(checker.violations.size(), 3u);
  EXPECT_NE(last().find("malformed"), std::string::npos) << last();

  append("01.12.2026 18:02:00 -> two lines\n01.12.2026 18:02:00 -> in one\r\n");
  checker.ReadLog(HostPath(kRunLog), "now");
  ASSERT_EQ(checker.violations.size(), 4u);
  EXPECT_NE(last().find("malformed"), std::string::npos) << last();

  append("01.12.2025 18:02:00 -> last year\r\n");
  checker.ReadLog(HostPath(kRunLog), "now");
  ASSERT_EQ(checker.violations.size(), 5u);
  EXPECT_NE(last().find("back in time"), std::string::npos) << last();
}

TEST_F(SoakChecks, ChangedLocalRecordingsAreCaughtAfterStop)
{
  Checker checker(plans, true);
  Run(checker, 300);
  receiver->Stop();
  WriteFile("/mnt/hd/DataFiles/Films/Casablanca.rec", "play it again");
  CheckAfterStop(checker);
  ASSERT_EQ(checker.violations.size(), 1u) << Report(checker);
  EXPECT_NE(checker.violations[0].find("local DataFiles changed"), std::string::npos);
}

// Regressions the soak found.
class RecordingFolder : public Soak {
 protected:
  void SetUp() override
  {
    Prepare(kDefaultSeed, 4000.0);
    for(sim::NasConfig &nas : config.servers)
    {
      nas.asleep = false;
      nas.outages.clear();
      nas.sleeps.clear();
      nas.refusals.clear();
    }
  }
};

TEST_F(RecordingFolder, ServersBelowItGoAndComeBackWithTheRecordingServer)
{
  // Server 1 drops out while servers 2 to 4 have their DataFiles shares in
  // its export, and comes back while they sit in the local folder.
  config.servers[0].outages = {{1200, 1800}};
  Start();
  Checker checker(plans, true);
  Run(checker, 1700);
  EXPECT_FALSE(checker.mounted(1));
  EXPECT_TRUE(Exists("/mnt/hd/DataFiles/" + plans[1].local + "/DataFiles.txt")) << "server 2 in the local folder";
  Run(checker, 1300);
  EXPECT_TRUE(checker.mounted(1));
  EXPECT_TRUE(checker.mounted(2));
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/" + plans[1].local + "/DataFiles.txt"), "nas2/volume1/rec");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles.txt"), "nas1/volume1/rec");
  receiver->Stop();
  CheckAfterStop(checker);
  EXPECT_TRUE(checker.violations.empty()) << Report(checker);
}

TEST_F(RecordingFolder, AServerGivenUpGivesBackWhatItKeptAtTheStop)
{
  // Every mount of server 1's export is refused: the third attempt keeps the
  // local folder bound to DF_local and gives up.
  config.servers[0].refusals = {{0, 3600}};
  Start();
  Checker checker(plans, true);
  Run(checker, 300);
  EXPECT_EQ(checker.given_up, 1u);
  EXPECT_TRUE(Exists("/mnt/hd/DF_local"));
  EXPECT_TRUE(checker.violations.empty()) << Report(checker);
  receiver->Stop();
  CheckAfterStop(checker);
  EXPECT_TRUE(checker.violations.empty()) << Report(checker);
}

// The network's schedules the soak relies on.
class SoakNetwork : public SimTest {
 protected:
  uint64_t At(uint64_t second) const { return config.uptime_ticks + second * 100; }
  bool Answers(uint64_t second) { return receiver->network().Answers("10.0.0.1", At(second)); }
  void Wake(uint64_t second) { receiver->network().Wake("00:11:32:AA:BB:CC", At(second)); }
};

TEST_F(SoakNetwork, AServerThatFallsAsleepAnswersOnlyAfterAWakeUpAndItsBoot)
{
  sim::NasConfig nas;
  nas.name = "nas";
  nas.address = "10.0.0.1";
  nas.mac = "00:11:32:aa:bb:cc";
  nas.boot_seconds = 30;
  nas.sleeps = {100, 500};
  config.servers = {nas};
  Boot();
  EXPECT_TRUE(Answers(99));
  EXPECT_FALSE(Answers(100));
  EXPECT_FALSE(Answers(200));
  Wake(200);
  EXPECT_FALSE(Answers(229)) << "booting";
  EXPECT_TRUE(Answers(230));
  Wake(300);
  EXPECT_TRUE(Answers(320)) << "a packet to a server that is on changes nothing";
  EXPECT_FALSE(Answers(500)) << "asleep again";
  EXPECT_FALSE(Answers(800)) << "the wake-up before this sleep does not count";
  Wake(800);
  EXPECT_TRUE(Answers(830));
}

TEST_F(SoakNetwork, MountsAreRefusedOnlyWithinARefusal)
{
  sim::NasConfig nas;
  nas.name = "nas";
  nas.address = "10.0.0.1";
  nas.exports["/v"] = sandbox.path();
  nas.refusals = {{100, 150}};
  config.servers = {nas};
  Boot();
  std::string dir, error;
  uint64_t base = config.uptime_ticks;
  EXPECT_TRUE(receiver->network().MountRequest("10.0.0.1", "/v", base + 9999, &dir, &error));
  EXPECT_FALSE(receiver->network().MountRequest("10.0.0.1", "/v", base + 10000, &dir, &error));
  EXPECT_NE(error.find("not registered"), std::string::npos);
  EXPECT_FALSE(receiver->network().MountRequest("10.0.0.1", "/v", base + 14999, &dir, &error));
  EXPECT_TRUE(receiver->network().MountRequest("10.0.0.1", "/v", base + 15000, &dir, &error));
  EXPECT_TRUE(receiver->network().Answers("10.0.0.1", base + 12000)) << "pings are answered throughout";
}

}  // namespace
