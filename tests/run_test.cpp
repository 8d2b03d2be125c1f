// `brimvale-sim run` from scenario file to output folder: the folder appears
// whole or not at all, and a mistake is named by file, line and key.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/run.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

class RunCommand : public ::testing::Test {
 protected:
  RunCommand()
  {
    options.tap = BRIMVALE_TAP;
    options.firmware_dir = BRIMVALE_FIRMWARE_DIR;
    options.out = sandbox.path() + "/out/run";
  }

  std::string Read(const std::string &path)
  {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Runs the command; what it printed ends up in `printed` and `errors`.
  int Run()
  {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    int status = sim::RunScenarioFile(options, out, err);
    for(auto [file, text] : {std::pair{out, &printed}, std::pair{err, &errors}})
    {
      std::rewind(file);
      char buffer[4096];
      text->clear();
      for(size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) text->append(buffer, n);
      std::fclose(file);
    }
    return status;
  }

  // A previous run's output, to be kept or replaced as a whole.
  void PreviousOutput()
  {
    fs::create_directories(options.out);
    std::ofstream(options.out + "/previous.txt") << "from the run before";
  }

  // Anything but the output folder left next to it.
  std::vector<std::string> Leftovers()
  {
    std::vector<std::string> names;
    for(const auto &e : fs::directory_iterator(fs::path(options.out).parent_path()))
      if(e.path().filename() != "run") names.push_back(e.path().filename().string());
    return names;
  }

  std::string Scenario(const std::string &text)
  {
    std::string path = sandbox.path() + "/home.toml";
    std::ofstream(path) << text;
    return path;
  }

  Sandbox sandbox;
  sim::RunOptions options;
  std::string printed, errors;
};

TEST_F(RunCommand, AMistakeLeavesThePreviousOutputUntouched)
{
  const struct {
    const char *text;
    const char *message;
  } cases[] = {
    {"[receiver]\nlanguage = \"german\"\n\n[[timer]]\nstart = \"soon\"\n", ":5: timer[1].start: must be"},
    {"[settings]\nfrom = \"missing\"\n", ":2: settings.from: no folder"},
    {"[run]\nduration = [\n", ":"},
  };
  for(const auto &c : cases)
  {
    options.scenario = Scenario(c.text);
    PreviousOutput();
    EXPECT_EQ(Run(), 2) << c.text;
    EXPECT_NE(errors.find(options.scenario + c.message), std::string::npos) << errors;
    EXPECT_EQ(Read(options.out + "/previous.txt"), "from the run before");
    EXPECT_FALSE(fs::exists(options.out + "/summary.txt"));
    EXPECT_TRUE(Leftovers().empty());
    fs::remove_all(options.out);
    EXPECT_EQ(Run(), 2);
    EXPECT_FALSE(fs::exists(options.out)) << "no output folder at all";
  }
}

TEST_F(RunCommand, AReceiverThatCannotBeBuiltLeavesNoOutput)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/clean.toml";
  options.tap = sandbox.path() + "/no-such.tap";
  PreviousOutput();
  EXPECT_EQ(Run(), 1);
  EXPECT_NE(errors.find("no-such.tap"), std::string::npos) << errors;
  EXPECT_EQ(Read(options.out + "/previous.txt"), "from the run before");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(RunCommand, ACompleteRunReplacesThePreviousOutputWhole)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/timers.toml";
  options.quiet = true;
  PreviousOutput();
  ASSERT_EQ(Run(), 0) << errors;
  EXPECT_FALSE(fs::exists(options.out + "/previous.txt"));
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(errors, "") << "no progress line unless asked for";
  // Quiet: the summary only, no timeline.
  EXPECT_EQ(printed.find("command "), std::string::npos) << printed;
  EXPECT_NE(printed.find("diskstation   192.168.178.20"), std::string::npos) << printed;

  for(const char *file : {"Brimvale.log", "commands.txt", "tree.txt", "summary.txt", "timers.txt"})
    EXPECT_TRUE(fs::exists(options.out + "/" + file)) << file;
  EXPECT_FALSE(fs::is_empty(options.out + "/screenshots"));
  std::string summary = Read(options.out + "/summary.txt");
  // Woken at once, answers after its 30 s boot, mounted 20 s later in one try,
  // everything unmounted at the stop.
  EXPECT_NE(summary.find("diskstation   192.168.178.20       0s       33s       2         2      53s      1 "),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("plug-in: TAP_Main returned 1, was stopped at the end of the run\n"), std::string::npos);
  EXPECT_NE(summary.find("#0 \"Late news\" record 1: 2026-12-08 23:59 for 30 min -> 2026-12-09 00:00 for 29 min\n"),
            std::string::npos)
      << summary;
  std::string timers = Read(options.out + "/timers.txt");
  EXPECT_EQ(timers.rfind("timer table: 5 timers in 200-byte ST_TMST200 slots, pre-recording padding 5 min\n", 0), 0u)
      << timers;
  std::string tree = Read(options.out + "/tree.txt");
  EXPECT_NE(tree.find("  DataFiles/Local recording.rec\n"), std::string::npos) << tree;
}

TEST_F(RunCommand, TheTimelineTellsTheStory)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/no-busybox.toml";
  ASSERT_EQ(Run(), 0) << errors;
  const char *lines[] = {
    "2026-12-08 20:00:00.00  log      File busybox is missing - TAP will be terminated!\n",
    "2026-12-08 20:00:00.00  screen   screen-2026-12-08_20-00-00.00.png  \"File busybox is missing - TAP will be terminated!\"\n",
    "2026-12-08 20:00:03.00  screen   screen-2026-12-08_20-00-03.00.png\n",
    "2026-12-08 20:00:03.00  system   TAP_Exit\n",
  };
  size_t at = 0;
  for(const char *line : lines)
  {
    size_t found = printed.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "\nin\n" << printed;
    if(found != std::string::npos) at = found;
  }
  EXPECT_NE(printed.find("plug-in: TAP_Main returned 1, exited (TAP_Exit) after 3s\n"), std::string::npos) << printed;
}

}  // namespace
