// The shipped Brimvale.tap run from the example scenarios, as `brimvale-sim
// run` runs them: a clean start-up, every start-up check that fails, the
// missing settings file, the German texts, the recording-timer delay on every
// timer layout and the stop request. So the examples are proven as well.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/time/time.h"
#include "lib/timers/timers.h"
#include "sim/scenario/scenario.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/Brimvale/";
const std::string kRunLog = kSettings + "Logs/Brimvale.log";

class ExampleRun : public SimTest {
 protected:
  // Reads examples/<name> into `scenario`; the test may change it before Play.
  void Load(const std::string &name)
  {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(std::string(BRIMVALE_SOURCE_DIR) + "/examples/" + name, &scenario, &error)) << error;
  }

  // Builds the receiver exactly as the emulator program does and plays the scenario.
  void Play()
  {
    std::string error;
    scenario.config.root = config.root;
    scenario.config.firmware_dir = config.firmware_dir;
    ASSERT_TRUE(sim::PrepareNetwork(&scenario, sandbox.path() + "/nas", &error)) << error;
    config = scenario.config;
    Boot();  // the test build of the codec reads the same firmware
    ASSERT_TRUE(sim::PrepareReceiver(scenario, receiver.get(), &error)) << error;
    timers_before = sim::ReadTimerTable(scenario, *receiver);
    data_files_before = Tree("/mnt/hd/DataFiles");
    mounts_before = receiver->disk().mounts().size();
    LoadTap();
    start_tick = receiver->clock().tick();
    main_result = sim::PlayScenario(scenario, receiver.get(), {});
  }

  // Ticks after TAP_Main of each entry of `kind` whose text contains `part`.
  std::vector<uint32_t> TicksOf(sim::TraceKind kind, const std::string &part) const
  {
    std::vector<uint32_t> ticks;
    for(const sim::TraceEntry &e : receiver->trace().entries())
      if(e.kind == kind && e.text.find(part) != std::string::npos) ticks.push_back(e.tick - start_tick);
    return ticks;
  }

  // What the message bar said, in order.
  std::vector<std::string> BarTexts() const
  {
    std::vector<std::string> texts;
    for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kOsd))
      if(t.rfind("TAP_Osd_PutS(", 0) == 0) texts.push_back(t.substr(t.find(") \"") + 3, t.rfind('"') - t.find(") \"") - 3));
    return texts;
  }

  // The run as a person reads it: ticks after TAP_Main, and what happened
  // (commands, network, events, exit, what was drawn as text and removed).
  std::string Story() const
  {
    std::string out;
    for(const sim::TraceEntry &e : receiver->trace().entries())
    {
      bool shown = e.kind == sim::TraceKind::kShell || e.kind == sim::TraceKind::kNetwork ||
                   e.kind == sim::TraceKind::kEvent || e.kind == sim::TraceKind::kSystem ||
                   (e.kind == sim::TraceKind::kOsd && (e.text.rfind("TAP_Osd_PutS", 0) == 0 ||
                                                       e.text.rfind("TAP_Osd_Create", 0) == 0 ||
                                                       e.text.rfind("TAP_Osd_Delete", 0) == 0));
      if(shown) out += "+" + std::to_string(e.tick - start_tick) + "  " + sim::TraceKindName(e.kind) + "  " + e.text + "\n";
    }
    return out;
  }

  // Compares `text` with tests/golden/<name>; BRIMVALE_UPDATE_GOLDEN=1 rewrites it.
  void ExpectGolden(const std::string &name, const std::string &text)
  {
    std::string path = std::string(BRIMVALE_SOURCE_DIR) + "/tests/golden/" + name;
    if(getenv("BRIMVALE_UPDATE_GOLDEN") != nullptr) std::ofstream(path, std::ios::binary) << text;
    std::ifstream in(path, std::ios::binary);
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(text, expected.str()) << "differs from tests/golden/" << name;
  }

  sim::Scenario scenario;
  sim::TimerTableImage timers_before;
  std::string data_files_before;
  size_t mounts_before = 0;
  uint32_t start_tick = 0;
  int main_result = -1;
};

TEST_F(ExampleRun, CleanStartUp)
{
  Load("startup/clean.toml");
  Play();
  EXPECT_EQ(main_result, 1);
  std::vector<std::string> commands = Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], "cd /mnt/hd/ProgramFiles; chmod 555 busybox");
  EXPECT_EQ(commands[1], "portmap");
  EXPECT_EQ(commands[2].rfind("ps > ", 0), 0u) << commands[2];
  EXPECT_TRUE(BarTexts().empty() || BarTexts()[0] == "1") << "no message on the bar";
  EXPECT_TRUE(TicksOf(sim::TraceKind::kSystem, "TAP_Exit").empty());
  std::string log = ReadFile(kRunLog);
  EXPECT_NE(log.find("Mounting of 1. NAS finished successfully"), std::string::npos);
  EXPECT_EQ(log.find("terminated!"), std::string::npos);
  ExpectGolden("startup-clean.log", log);
  ExpectGolden("startup-clean.story", Story());
}

struct FailedCheck {
  const char *example;
  const char *text;                    // on the bar and in the log
  std::vector<std::string> commands;   // every command of the whole run
};

std::ostream &operator<<(std::ostream &out, const FailedCheck &c) { return out << c.example; }

class FailedStartUp : public ExampleRun, public ::testing::WithParamInterface<FailedCheck> {};

TEST_P(FailedStartUp, ShowsAndLogsItsTextAndEndsWhenTheBarExpires)
{
  const FailedCheck &c = GetParam();
  Load(std::string("startup/") + c.example + ".toml");
  scenario.step_ticks = 1;  // an idle event every tick: the exit is seen to the tick
  Play();
  EXPECT_EQ(main_result, 1);

  std::vector<std::string> bar = BarTexts();
  ASSERT_FALSE(bar.empty());
  EXPECT_EQ(bar.back(), c.text);
  std::string log = ReadFile(kRunLog);
  EXPECT_NE(log.find(std::string("-> ") + c.text + "\r\n"), std::string::npos) << log;

  // The plug-in ends 300 ticks after the last message, not one tick sooner.
  std::vector<uint32_t> shown = TicksOf(sim::TraceKind::kOsd, std::string("\"") + c.text + "\"");
  std::vector<uint32_t> exits = TicksOf(sim::TraceKind::kSystem, "TAP_Exit");
  ASSERT_FALSE(shown.empty());
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0] - shown.back(), 300u);
  EXPECT_TRUE(receiver->ended());

  // Nothing after the failing step ran: no further commands, and no probe,
  // wake-up or mount while the bar was up.
  EXPECT_EQ(Commands(), c.commands);
  EXPECT_EQ(receiver->processes().Find("portmap"), nullptr) << "portmap outlives the plug-in";
  ExpectGolden(std::string("startup-") + c.example + ".log", log);
  ExpectGolden(std::string("startup-") + c.example + ".story", Story());
}

const std::string kChmod = "cd /mnt/hd/ProgramFiles; chmod 555 busybox";
const std::string kPs = "ps > /mnt/hd/ProgramFiles/Settings/Brimvale/ps.txt";

INSTANTIATE_TEST_SUITE_P(
    Examples, FailedStartUp,
    ::testing::Values(
        FailedCheck{"no-firmware-dat", "FirmwareTMS.dat not found - TAP will be terminated!", {}},
        FailedCheck{"outdated-firmware-dat", "FirmwareTMS.dat is outdated - TAP will be terminated!", {}},
        FailedCheck{"no-busybox", "File busybox is missing - TAP will be terminated!", {}},
        FailedCheck{"busybox-unchangeable", "Can't set the rights for busybox - TAP will be terminated!", {kChmod}},
        // The one check that skips nothing: portmap is still started, and
        // stopped again when the plug-in ends, so the next start can have it.
        FailedCheck{"duplicate-folder", "Multiple use of local foldername - TAP will be terminated!",
                    {kChmod, "portmap", kPs, "kill -15 300"}},
        FailedCheck{"no-address", "Server-IP and/or local folder name missing - TAP will be terminated!", {kChmod}},
        FailedCheck{"portmap-fails", "Portmap failed - TAP will be terminated!", {kChmod, "portmap", kPs}}),
    [](const ::testing::TestParamInfo<FailedCheck> &info) {
      std::string name = info.param.example;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST_F(ExampleRun, FirmwareDatOf18November2010Passes)
{
  Load("startup/outdated-firmware-dat.toml");
  scenario.firmware_dat.date.day = 18;
  Play();
  EXPECT_EQ(ReadFile(kRunLog).find("outdated"), std::string::npos);
  EXPECT_TRUE(TicksOf(sim::TraceKind::kSystem, "TAP_Exit").empty());
  std::vector<std::string> commands = Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[1], "portmap");
}

TEST_F(ExampleRun, MissingSettingsFileIsWrittenWithTheDefaultsAndThePlugInEnds)
{
  Load("startup/no-settings.toml");
  scenario.step_ticks = 1;
  Play();
  EXPECT_EQ(main_result, 1);
  const std::string text = "Brimvale.ini at ProgramFiles/Settings/Brimvale has to be edited!";
  ASSERT_EQ(BarTexts(), std::vector<std::string>{text});
  std::vector<uint32_t> shown = TicksOf(sim::TraceKind::kOsd, "\"" + text + "\"");
  std::vector<uint32_t> exits = TicksOf(sim::TraceKind::kSystem, "TAP_Exit");
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0] - shown[0], 1000u) << "shown for 10 s";
  EXPECT_TRUE(Commands().empty()) << "no portmap, nothing at all";
  EXPECT_FALSE(Exists(kRunLog)) << "logging is off until a settings file says otherwise";

  std::string ini = ReadFile(kSettings + "Brimvale.ini");
  EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), 16);
  EXPECT_NE(ini.find("Local Folder Name=NAS-Share\r\n"), std::string::npos);
  EXPECT_NE(ini.find("MountDelay=30\r\n"), std::string::npos);
  EXPECT_EQ(ini.find("Logfile"), std::string::npos);
  ExpectGolden("startup-no-settings.ini", ini);
  ExpectGolden("startup-no-settings.story", Story());
}

// busybox = "unchangeable": chmod refuses that one file and nothing else,
// after the usual checks of its arguments.
TEST_F(ExampleRun, AnUnchangeableBusyboxRefusesOnlyItsOwnChmod)
{
  Load("startup/busybox-unchangeable.toml");
  Play();
  const struct {
    const char *line;
    int exit;
    const char *error;
  } cases[] = {
      {"cd /mnt/hd/ProgramFiles; chmod 555 busybox", 1, "chmod: busybox: Operation not permitted"},
      {"chmod 755 /mnt/hd/ProgramFiles/busybox", 1, "chmod: /mnt/hd/ProgramFiles/busybox: Operation not permitted"},
      {"chmod 600 /mnt/hd/ProgramFiles/FirmwareTMS.dat", 0, ""},
      {"chmod 555 /mnt/hd/ProgramFiles/nothing", 1, "chmod: /mnt/hd/ProgramFiles/nothing: No such file or directory"},
      {"chmod 555", 1, "chmod: missing operand"},
  };
  for(const auto &c : cases)
  {
    EXPECT_EQ(receiver->shell().Run(c.line) >> 8, c.exit) << c.line;
    EXPECT_EQ(receiver->trace().entries().back().error, c.error) << c.line;
  }
  EXPECT_EQ(fs::status(HostPath("/mnt/hd/ProgramFiles/FirmwareTMS.dat")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ExampleRun, GermanStartUpTextsAreIso88591)
{
  Load("startup/busybox-unchangeable.toml");
  scenario.config.language = LANGUAGE_GERMAN;
  Play();
  const std::string text = "Rechte f\xfcr busybox konnten nicht gesetzt werden - TAP wird beendet!";
  ASSERT_FALSE(BarTexts().empty());
  EXPECT_EQ(BarTexts().back(), text);
  std::string log = ReadFile(kRunLog);
  EXPECT_NE(log.find("-> " + text + "\r\n"), std::string::npos);
  EXPECT_EQ(log.find("\xc3\xbc"), std::string::npos) << "no UTF-8 in the log";
  ExpectGolden("startup-german-busybox.log", log);
}

TEST_F(ExampleRun, GermanMissingSettingsMessage)
{
  Load("german.toml");
  Play();
  EXPECT_EQ(BarTexts(),
            std::vector<std::string>{"Brimvale.ini unter ProgramFiles/Settings/Brimvale muss bearbeitet werden!"});
  EXPECT_TRUE(Exists(kSettings + "Brimvale.ini"));
}

TEST_F(ExampleRun, GermanLocalRecordingsFolder)
{
  Load("default.toml");
  scenario.config.language = LANGUAGE_GERMAN;
  scenario.duration_seconds = 150;  // the sleeping server holds the recordings from 96 s on
  scenario.stop_at_end = false;
  Play();
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/DataFiles lokal/Local recording.rec"), "local:DataFiles/Local recording.rec\n");
  EXPECT_FALSE(Exists("/mnt/hd/DataFiles/DataFiles local"));
}

TEST_F(ExampleRun, StopRequestUndoesEveryMount)
{
  Load("default.toml");
  Play();
  EXPECT_EQ(receiver->disk().mounts().size(), mounts_before);
  EXPECT_EQ(receiver->processes().Find("portmap"), nullptr);
  std::vector<std::string> commands = Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back().rfind("kill ", 0), 0u) << commands.back();
  std::string log = ReadFile(kRunLog);
  const std::string last = "-> Brimvale terminated\r\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  EXPECT_EQ(Tree("/mnt/hd/DataFiles"), data_files_before);
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
}

// Another plug-in's portmap (or ours from before a crash) serves NFS as well:
// start-up goes on with it, and the stop leaves it running.
TEST_F(ExampleRun, APortmapThatRunsAlreadyIsUsedAndLeftRunning)
{
  Load("startup/portmap-running.toml");
  Play();
  const sim::Process *portmap = receiver->processes().Find("portmap");
  ASSERT_NE(portmap, nullptr) << "not ours to stop";
  std::string log = ReadFile(kRunLog);
  EXPECT_EQ(log.find("Portmap failed"), std::string::npos) << log;
  EXPECT_NE(log.find("-> Portmap is already running - it is used and left running\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Mounting of 1. NAS finished successfully"), std::string::npos) << log;
  EXPECT_TRUE(TicksOf(sim::TraceKind::kSystem, "TAP_Exit").empty());
  for(const std::string &c : Commands()) EXPECT_NE(c.rfind("kill", 0), 0u) << c;
  EXPECT_EQ(receiver->disk().mounts().size(), mounts_before);
}

// Whatever the layout of ps, the stop request ends portmap and nothing else.
TEST_F(ExampleRun, TheStopEndsPortmapWhateverTheLayoutOfPs)
{
  for(sim::PsLayout layout : {sim::PsLayout::kReceiver, sim::PsLayout::kBusybox, sim::PsLayout::kProcps})
  {
    SCOPED_TRACE(static_cast<int>(layout));
    receiver.reset();
    std::filesystem::remove_all(config.root);
    scenario = sim::Scenario();
    Load("startup/busybox-ps.toml");
    scenario.config.ps_layout = layout;
    Play();
    std::vector<std::string> others;
    for(const sim::Process &p : receiver->processes().list()) others.push_back(p.command);
    EXPECT_EQ(others, (std::vector<std::string>{"init", "[kthread]", "[kthread]", "[kthread]", "[kthread]",
                                                "/sbin/syslogd", "/root/pvr", "/usr/sbin/telnetd"}))
        << "portmap ended, everything else still there";
  }
}

// ---- recording timers ----

struct Layout {
  uint32_t system_type;
  int work_area_distance;
  const char *name;
};

std::ostream &operator<<(std::ostream &out, const Layout &l) { return out << l.name; }

class TimerDelayRun : public ExampleRun, public ::testing::WithParamInterface<Layout> {
 protected:
  // The example on the receiver of this layout.
  void LoadOnLayout()
  {
    Load("timers.toml");
    scenario.firmware_dat.receivers.at(0).system_type = GetParam().system_type;
    scenario.config.firmware.timer_slot_size = GetParam().work_area_distance;
    ASSERT_TRUE(sim::TimerLayoutFor(GetParam().system_type, GetParam().work_area_distance, &scenario.timer_layout));
    ASSERT_EQ(scenario.timer_layout.name, GetParam().name);
  }
};

TEST_P(TimerDelayRun, EarlyTimersMoveOneMinuteAndNothingElseChanges)
{
  LoadOnLayout();
  Play();
  sim::TimerTableImage after = sim::ReadTimerTable(scenario, *receiver);
  ASSERT_EQ(after.count(), 5u);
  const PackedDateTime day = PACK_DATETIME(sim::MjdFromDate(2026, 12, 8), 0, 0);
  const struct {
    PackedDateTime start;
    int duration;
  } expected[] = {
    {PACK_DATETIME(PACKED_MJD(day) + 1, 0, 0), 29},  // 23:59, 6 minutes ahead: into the next day
    {PACK_DATETIME(PACKED_MJD(day) + 1, 0, 0), 90},  // 7 minutes ahead: left alone
    {PACK_DATETIME(PACKED_MJD(day), 23, 55), 5},     // not recording
    {PACK_DATETIME(PACKED_MJD(day), 23, 58), 0},     // no minute to give: its length does not wrap
    {PACK_DATETIME(PACKED_MJD(day), 23, 21), 59},    // already begun
  };
  for(size_t k = 0; k < 5; ++k)
  {
    sim::FirmwareTimer t = after.timer(k);
    EXPECT_EQ(t.start, expected[k].start) << "timer " << k << ": " << sim::TimerStartText(t.start);
    EXPECT_EQ(t.duration, expected[k].duration) << "timer " << k;
    EXPECT_EQ(t.record, timers_before.timer(k).record) << "timer " << k;
    EXPECT_EQ(t.name, timers_before.timer(k).name) << "timer " << k;
    EXPECT_TRUE(sim::ChangedFirmwareBytes(timers_before.slot(k), after.slot(k), after.layout).empty())
        << "timer " << k << ": the firmware's own fields must survive the rewrite";
    // And the plug-in's codec reads what the emulator wrote.
    TimerRecord r;
    ASSERT_EQ(FlashTimerGetInfo(static_cast<int>(k), &r), 1);
    EXPECT_EQ(r.StartTime, t.start);
    EXPECT_EQ(r.Duration, t.duration);
  }
  // Untouched slots are byte for byte what they were.
  EXPECT_EQ(std::memcmp(timers_before.slot(1), after.slot(1), after.layout.size), 0);
  EXPECT_EQ(std::memcmp(timers_before.slot(2), after.slot(2), after.layout.size), 0);
  std::string text = sim::DescribeTimers(timers_before, after);
  EXPECT_EQ(text.find("firmware bytes changed"), std::string::npos) << text;
  ExpectGolden("timers.txt", text);
}

TEST_P(TimerDelayRun, NoTimerMovesAfterAFailedCheck)
{
  LoadOnLayout();
  scenario.portmap_fails = true;
  Play();
  sim::TimerTableImage after = sim::ReadTimerTable(scenario, *receiver);
  EXPECT_EQ(after.bytes, timers_before.bytes);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TimerDelayRun,
                         ::testing::Values(Layout{5, 200, "ST_TMSS"}, Layout{6, 200, "ST_TMST200"},
                                           Layout{6, 208, "ST_TMST"}, Layout{7, 200, "ST_TMSC"}),
                         [](const ::testing::TestParamInfo<Layout> &info) { return std::string(info.param.name); });

}  // namespace
