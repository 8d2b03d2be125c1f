// Scenario files: what a person writes is read exactly, and a mistake is
// reported with the file, the line and the key.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/scenario.h"
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
    {"", 0, false},    {"1h30", 0, false}, {"m", 0, false},       {"5x", 0, false},
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

}  // namespace
