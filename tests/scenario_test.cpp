// Scenario files: what a person writes is read exactly, and a mistake is
// reported with the file, the line and the key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/scenario/scenario.h"
#include "sim_fixture.h"

namespace {

class ScenarioTest : public ::testing::Test {
 protected:
  std::string Write(const std::string &text)
  {
    std::string path = sandbox.path() + "/s.toml";
    std::ofstream(path) << text;
    return path;
  }
  Sandbox sandbox;
};

TEST(ScenarioDuration, TextsAndSeconds)
{
  const struct {
    const char *text;
    double seconds;
    bool ok;
  } cases[] = {
    {"90s", 90, true}, {"15m", 900, true}, {"1h30m", 5400, true}, {"2d", 172800, true}, {"45", 45, true},
    {"1.5m", 90, true}, {"", 0, false},     {"1h30", 0, false},   {"m", 0, false},       {"5x", 0, false},
    {".", 0, false},    {"1..5m", 0, false}, {"1.m", 0, false},   {".5m", 0, false},
    // Each unit once, the largest first.
    {"1d2h3m4s", 93784, true}, {"1h1h", 0, false}, {"30m1h", 0, false}, {"1m1m", 0, false},
  };
  for(const auto &c : cases)
  {
    double seconds = -1;
    EXPECT_EQ(sim::ParseDuration(c.text, &seconds), c.ok) << c.text;
    if(c.ok) EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
  }
}

TEST_F(ScenarioTest, TheDefaultExampleReadsAsWritten)
{
  sim::Scenario s;
  std::string error;
  ASSERT_TRUE(sim::LoadScenario(std::string(BRIMVALE_SOURCE_DIR) + "/examples/default.toml", &s, &error)) << error;
  EXPECT_EQ(s.duration_seconds, 720);
  EXPECT_EQ(s.config.uptime_ticks, 2000u);
  EXPECT_EQ(s.config.hour, 19);
  ASSERT_EQ(s.servers.size(), 2u);
  EXPECT_TRUE(s.servers[0].nas.asleep);
  EXPECT_EQ(s.servers[0].nas.boot_seconds, 50);
  EXPECT_EQ(s.servers[1].nas.outages.size(), 1u);
  EXPECT_EQ(s.servers[1].nas.outages[0].first, 300);
  EXPECT_NE(s.settings["Brimvale.ini"].find("NAS Recording=1"), std::string::npos);
  EXPECT_EQ(s.firmware_dat.receivers.at(0).system_type, 6u);
  std::string german;
  EXPECT_TRUE(sim::LoadScenario(std::string(BRIMVALE_SOURCE_DIR) + "/examples/german.toml", &s, &error)) << error;
  EXPECT_EQ(s.config.language, LANGUAGE_GERMAN);
}

TEST_F(ScenarioTest, MistakesNameFileLineAndKey)
{
  const struct {
    const char *text;
    const char *message;  // what the error must contain after the file name
  } cases[] = {
    {"[run]\nduration = \"soon\"\n", ":2: run.duration: must be seconds or a text"},
    {"[receiver]\nlanguage = \"french\"\n", ":2: receiver.language: must be \"english\" or \"german\""},
    {"[receiver]\n\nsystm_id = 5\n", ":3: receiver.systm_id: unknown key"},
    {"[[server]]\nname = \"a\"\n", "server[1].address: is missing"},
    {"[[server]]\naddress = \"1.2.3.4\"\nmac = \"zz\"\n", ":3: server[1].mac: must look like"},
    {"[[server]]\naddress = \"1.2.3.4\"\noutages = [[\"5m\", \"1m\"]]\n", ":3: server[1].outages: an outage must end"},
    {"[[server]]\naddress = \"1.2.3.4\"\nexports = { \"/v\" = [\"../x\"] }\n", "server[1].exports: files are relative"},
    {"[run]\nduration = \n", ":2:"},
    {"[receiver]\nbusybox = \"maybe\"\n", ":2: receiver.busybox: must be true, false or \"unchangeable\""},
    {"[receiver]\nportmap = false\n", ":2: receiver.portmap: must be \"works\", \"fails\" or \"running\""},
    {"[receiver]\nps = \"bsd\"\n", ":2: receiver.ps: must be \"receiver\", \"busybox\" or \"procps\""},
    {"[receiver]\npre_padding = 32\n", ":2: receiver.pre_padding: must lie from 0 to 31"},
    {"[[timer]]\nduration = 5\n", "timer[1].start: must be a local date and time"},
    {"[[timer]]\n\nstart = \"tonight\"\n", ":3: timer[1].start: must be a local date and time"},
    {"[[timer]]\nstart = \"2026-02-30 20:00\"\n", ":2: timer[1].start: is not a date and time"},
    {"[[timer]]\nstart = 2026-12-08T20:05:30\n", ":2: timer[1].start: timers start on a whole minute"},
    {"[[timer]]\nstart = 2026-12-08T20:05:00Z\n", ":2: timer[1].start: is local time"},
    {"[[timer]]\nstart = 2026-12-08T20:05:00\ndate = 2026-12-08\n", "timer[1].start: give either start or"},
    {"[[timer]]\ndate = 2026-12-08\ntime = \"25:00\"\n", ":3: timer[1].time: is not a time of day"},
    {"[[timer]]\nstart = 2026-12-08T20:05:00\nduration = 70000\n", ":3: timer[1].duration: must lie from 0 to 65535"},
    {"[[timer]]\nstart = 2026-12-08T20:05:00\nchannel = 5\n", ":3: timer[1].channel: unknown key"},
    {"[receiver]\nsystem_type = 0\n[[timer]]\nstart = 2026-12-08T20:05:00\n",
     ":3: timer: receiver.system_type 0 has no timer table"},
    {"[settings]\nfrom = \"no-such-folder\"\n", ":2: settings.from: no folder"},
    // Every number and time within what the run and the receiver hold.
    {"[run]\nduration = 9223372036854775807\n", ":2: run.duration: must be at most 366d (a year)"},
    {"[run]\nduration = \"99999999999999999999999999d\"\n", ":2: run.duration: must be at most 366d"},
    {"[run]\nduration = \"18446744073709551616\"\n", ":2: run.duration: must be at most 366d"},
    {"[run]\nduration = \".\"\n", ":2: run.duration: must be seconds or a text"},
    {"[run]\nduration = \"1..5m\"\n", ":2: run.duration: must be seconds or a text"},
    {"[receiver]\nuptime = \"500d\"\n", ":2: receiver.uptime: must be at most 497d2h27m52s (the receiver counts"},
    {"[receiver]\ntime = 25:00:00\n", ":2: receiver.time: the hour must lie from 0 to 23, not 25"},
    {"[receiver]\ndate = 2038-04-23\n", ":2: receiver.date: must be a date from 1900-01-01 to 2038-04-22"},
    {"[receiver]\ndate = 2038-04-22\n[run]\nduration = \"1d\"\n", ":4: run.duration: the run would go past 2038-04-22"},
    {"[[timer]]\nstart = \"2038-04-23 20:00\"\n", ":2: timer[1].start: must be a date from 1900-01-01 to 2038-04-22"},
    {"[[key]]\nat = \"400d\"\ncode = 1\n", ":2: key[1].at: must be at most 366d"},
    // Nothing of what is written is dropped without a word.
    {"[receiver]\ntime = 12:00:00.5\n", ":2: receiver.time: must be a whole second"},
    {"[[timer]]\nstart = 2026-12-08T20:05:00.5\n", ":2: timer[1].start: timers start on a whole minute"},
    // Servers the network and the summary can tell apart.
    {"[[server]]\naddress = \"1.2.3.4\"\n[[server]]\naddress = \"1.2.3.4\"\n",
     ":4: server[2].address: two servers have the address 1.2.3.4"},
    {"[[server]]\naddress = \"1.2.3.4\"\nname = \"a\\u0000b\"\n", ":3: server[1].name: must be a plain name"},
    {"[[server]]\naddress = \"1.2.3.4\"\nname = \"Wohnzimmer-NAS\"\n",
     ":3: server[1].name: must be at most 13 characters"},
    {"[[server]]\naddress = \"diskstation.fritz.box\"\n", ":2: server[1].address: must be at most 19"},
  };
  for(const auto &c : cases)
  {
    sim::Scenario s;
    std::string error;
    std::string path = Write(c.text);
    EXPECT_FALSE(sim::LoadScenario(path, &s, &error)) << c.text;
    EXPECT_EQ(error.rfind(path, 0), 0u) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST_F(ScenarioTest, KeysArePressedInTheOrderOfTheirTimes)
{
  sim::Scenario s;
  std::string error;
  std::string path = Write("[run]\nduration = \"1m\"\n[[key]]\nat = 20\ncode = 2\n[[key]]\nat = 10\ncode = 1\n"
                           "[[key]]\nat = \"2m\"\ncode = 3\n[[server]]\naddress = \"1.2.3.4\"\n"
                           "outages = [[\"5m\", \"6m\"]]\n");
  ASSERT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
  ASSERT_EQ(s.keys.size(), 3u);
  EXPECT_EQ(s.keys[0].code, 1u);
  EXPECT_EQ(s.keys[1].code, 2u);
  EXPECT_EQ(s.keys[2].code, 3u);
  EXPECT_EQ(s.warnings, (std::vector<std::string>{
                            path + ":14: server[1].outages: begins at 5m, after the end of the run (1m): it never happens",
                            path + ":10: key[3].at: 2m is after the end of the run (1m): the key is never pressed",
                        }));
}

// A generated scenario with thousands of outages past its end gets a few
// lines and a count, not a line for each.
TEST_F(ScenarioTest, ManyWarningsOfAKindAreCounted)
{
  std::string outages;
  for(int k = 0; k < 1000; ++k) outages += (k ? ", [" : "[") + std::to_string(120 + k) + ", " + std::to_string(121 + k) + "]";
  sim::Scenario s;
  std::string error;
  std::string path = Write("[run]\nduration = \"1m\"\n[[key]]\nat = \"2m\"\ncode = 1\n[[server]]\n"
                           "address = \"1.2.3.4\"\noutages = [" + outages + "]\n");
  ASSERT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
  ASSERT_EQ(s.warnings.size(), 7u);
  EXPECT_NE(s.warnings[0].find("server[1].outages: begins at 2m, after the end"), std::string::npos) << s.warnings[0];
  EXPECT_NE(s.warnings[5].find("key[1].at: 2m is after the end"), std::string::npos) << s.warnings[5];
  EXPECT_EQ(s.warnings[6], path + ": 995 more outages that begin after the end of the run (not listed)");
}

// The reference example names every key the reader knows.
TEST_F(ScenarioTest, TheReferenceExampleHoldsEveryKey)
{
  std::string path = std::string(BRIMVALE_SOURCE_DIR) + "/examples/reference.toml";
  sim::Scenario s;
  std::string error;
  ASSERT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for(const std::string &key : sim::ScenarioKeys())
  {
    std::string table = key.substr(0, key.find('.')), name = key.substr(key.find('.') + 1);
    size_t header = std::min(text.find("\n[" + table + "]\n"), text.find("\n[[" + table + "]]\n"));
    EXPECT_NE(header, std::string::npos) << key;
    // Written, or commented out, in its table.
    size_t next = text.find("\n[", header + 1);
    std::string body = text.substr(header, next == std::string::npos ? std::string::npos : next - header);
    EXPECT_TRUE(body.find("\n" + name + " = ") != std::string::npos || body.find("\n# " + name + " = ") != std::string::npos)
        << key;
  }
}

TEST_F(ScenarioTest, TimersInEveryFormReadAsWritten)
{
  sim::Scenario s;
  std::string error;
  std::string path = Write(
      "[receiver]\nsystem_type = 5\npre_padding = 7\nsecond_padding = 3\n"
      "[[timer]]\nstart = 2026-12-08T23:59:00\nduration = 30\nname = \"Late news\"\n"
      "[[timer]]\nstart = \"2026-12-09 00:05\"\nrecord = 0\n"
      "[[timer]]\nstart = \"2026-12-09T01:10\"\nduration = 0\n"
      "[[timer]]\ndate = 2027-01-01\ntime = 00:00:00\n"
      "[[timer]]\ndate = 2027-01-01\ntime = \"13:45\"\n");
  ASSERT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
  int64_t day = sim::MjdFromDate(2026, 12, 8);
  const struct {
    uint32_t start;
    uint16_t duration;
    uint8_t record;
    const char *name;
  } expected[] = {
    {sim::PackTimerStart(day, 23, 59), 30, 1, "Late news"},
    {sim::PackTimerStart(day + 1, 0, 5), 60, 0, ""},
    {sim::PackTimerStart(day + 1, 1, 10), 0, 1, ""},
    {sim::PackTimerStart(sim::MjdFromDate(2027, 1, 1), 0, 0), 60, 1, ""},
    {sim::PackTimerStart(sim::MjdFromDate(2027, 1, 1), 13, 45), 60, 1, ""},
  };
  ASSERT_EQ(s.timers.size(), std::size(expected));
  for(size_t k = 0; k < s.timers.size(); ++k)
  {
    EXPECT_EQ(s.timers[k].start, expected[k].start) << k << ": " << sim::TimerStartText(s.timers[k].start);
    EXPECT_EQ(s.timers[k].duration, expected[k].duration) << k;
    EXPECT_EQ(s.timers[k].record, expected[k].record) << k;
    EXPECT_EQ(s.timers[k].name, expected[k].name) << k;
  }
  EXPECT_EQ(s.timers[0].start, (static_cast<uint32_t>(day) << 16) | (23u << 8) | 59u) << "MJD << 16 | hour << 8 | minute";
  EXPECT_EQ(s.config.timer_count, 5);
  EXPECT_EQ(s.timer_layout.name, "ST_TMSS");
  EXPECT_EQ(s.eeprom_pre_padding, 7);
  EXPECT_EQ(s.eeprom_second_padding, 3);
}

TEST_F(ScenarioTest, ATimerNameLongerThanTheSlotIsRefused)
{
  sim::Scenario s;
  std::string error;
  std::string path = Write("[[timer]]\nstart = 2026-12-08T20:05:00\nname = \"" + std::string(131, 'x') + "\"\n");
  EXPECT_FALSE(sim::LoadScenario(path, &s, &error));
  EXPECT_NE(error.find(":3: timer[1].name: must be at most 130 characters"), std::string::npos) << error;
  path = Write("[[timer]]\nstart = 2026-12-08T20:05:00\nname = \"" + std::string(130, 'x') + "\"\n");
  EXPECT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
}

TEST_F(ScenarioTest, StartUpKnobs)
{
  const struct {
    const char *text;
    bool busybox, unchangeable, portmap_fails;
  } cases[] = {
    {"", true, false, false},
    {"busybox = false\n", false, false, false},
    {"busybox = \"unchangeable\"\n", true, true, false},
    {"portmap = \"fails\"\n", true, false, true},
    {"portmap = \"works\"\n", true, false, false},
  };
  for(const auto &c : cases)
  {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Write(std::string("[receiver]\n") + c.text), &s, &error)) << error;
    EXPECT_EQ(s.busybox, c.busybox) << c.text;
    EXPECT_EQ(s.busybox_unchangeable, c.unchangeable) << c.text;
    EXPECT_EQ(s.portmap_fails, c.portmap_fails) << c.text;
  }
}

TEST_F(ScenarioTest, TheFirmwaresCLibrary)
{
  const struct {
    const char *text;
    bool ok;
    sim::CLibrary library;
  } cases[] = {
    {"", true, sim::CLibrary::kNew},
    {"c_library = \"new\"\n", true, sim::CLibrary::kNew},
    {"c_library = \"old\"\n", true, sim::CLibrary::kOld},
    {"c_library = \"none\"\n", true, sim::CLibrary::kNone},
    {"c_library = \"glibc 2.5\"\n", false, sim::CLibrary::kNew},
  };
  for(const auto &c : cases)
  {
    sim::Scenario s;
    std::string error;
    EXPECT_EQ(sim::LoadScenario(Write(std::string("[receiver]\n") + c.text), &s, &error), c.ok) << c.text;
    if(c.ok) EXPECT_EQ(s.config.c_library, c.library) << c.text;
    if(!c.ok) EXPECT_NE(error.find(":2: receiver.c_library: must be \"new\", \"old\" or \"none\""), std::string::npos) << error;
  }
}

TEST_F(ScenarioTest, EveryExampleReads)
{
  size_t examples = 0;
  for(const char *folder : {"/examples", "/examples/startup"})
    for(const auto &e : std::filesystem::directory_iterator(std::string(BRIMVALE_SOURCE_DIR) + folder))
    {
      if(e.path().extension() != ".toml") continue;
      sim::Scenario s;
      std::string error;
      EXPECT_TRUE(sim::LoadScenario(e.path().string(), &s, &error)) << error;
      ++examples;
    }
  EXPECT_GE(examples, 12u);
}

}  // namespace
