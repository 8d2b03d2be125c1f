// The library's own log, its terminal echo and the checked allocation.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "lib/log/log.h"
#include "lib/paths/paths.h"
#include "lib/paths/paths_internal.h"
#include "sim_fixture.h"

namespace {

const char kLogPath[] = "/mnt/hd/ProgramFiles/Settings/SupportLib.log";

class LogTest : public SimTest {
 protected:
  LogTest()
  {
    config.year = 2015, config.month = 1, config.day = 9;
    config.hour = 7, config.minute = 5, config.second = 9;
  }
  sim::Receiver &BootWithSettings()
  {
    MakeDir("/mnt/hd/ProgramFiles/Settings");
    return Boot();
  }
  // What a terminal received; "(closed)" when nobody could open it.
  std::string Terminal(int n) const
  {
    std::string path = "/dev/pts/" + std::to_string(n);
    return Exists(path) ? ReadFile(path) : "(closed)";
  }
  static std::string Echo(const std::string &line) { return line + std::string(1, '\0'); }
};

TEST_F(LogTest, LineAndEchoFormatsByteForByte)
{
  config.terminals = {0};
  sim::Receiver &r = BootWithSettings();
  LogEntryLibPrintf(1, "first %s %d", "entry", 42);
  EXPECT_EQ(Terminal(0), Echo("2015-01-09 07:05:09  SUPPORTLIB - first entry 42\n"));
  // The emulator's terminal is a plain file written from its start each time.
  WriteFile("/dev/pts/0", "");
  r.clock().Advance(61 * TICKS_PER_SECOND);
  LogEntryLibPrintf(1, "second");
  EXPECT_EQ(Terminal(0), Echo("2015-01-09 07:06:10  SUPPORTLIB - second\n"));
  EXPECT_EQ(ReadFile(kLogPath),
            "2015-01-09 07:05:09 first entry 42\r\n"
            "2015-01-09 07:06:10 second\r\n");
  EXPECT_STREQ(puffer, "2015-01-09 07:06:10  SUPPORTLIB - second\n");
}

TEST_F(LogTest, AppendsToWhatIsThere)
{
  WriteFile(kLogPath, "old line\r\n");
  BootWithSettings();
  LogEntryLibPrintf(0, "new");
  EXPECT_EQ(ReadFile(kLogPath), "old line\r\n2015-01-09 07:05:09 new\r\n");
}

TEST_F(LogTest, WithoutEchoNothingReachesATerminal)
{
  config.terminals = {0, 1};
  BootWithSettings();
  LogEntryLibPrintf(0, "quiet");
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 quiet\r\n");
  EXPECT_EQ(Terminal(0), "");
  EXPECT_EQ(Terminal(1), "");
}

TEST_F(LogTest, MessagesAreCutTo511Characters)
{
  BootWithSettings();
  const std::string longText(700, 'x');
  LogEntryLibPrintf(0, "%s", longText.c_str());
  LogEntryLibPrintf(0, "%s", std::string(511, 'y').c_str());
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 " + std::string(511, 'x') + "\r\n" +
                                    "2015-01-09 07:05:09 " + std::string(511, 'y') + "\r\n");
}

TEST_F(LogTest, EmptyMessageAndNullFormat)
{
  BootWithSettings();
  LogEntryLibPrintf(1, nullptr);
  EXPECT_FALSE(Exists(kLogPath));
  LogEntryLibPrintf(0, "%s", "");
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 \r\n");
}

TEST_F(LogTest, CreatesTheSettingsFolderWhenMissing)
{
  MakeDir("/mnt/hd/ProgramFiles");
  Boot();
  LogEntryLibPrintf(0, "fresh disk");
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 fresh disk\r\n");
  bool createdFolder = false;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kDisk))
    if(t == "TAP_Hdd_Create(\"Settings\", 224) -> 1") createdFolder = true;
  EXPECT_TRUE(createdFolder);
}

TEST_F(LogTest, KeepsTheCallersFolderAndStack)
{
  WriteFile("/mnt/hd/Media/x", "");
  BootWithSettings();
  ASSERT_EQ(HDD_ChangeDir("/Media"), 1);
  ASSERT_EQ(HDD_TAP_PushDir(), 1);
  LogEntryLibPrintf(0, "somewhere else");
  EXPECT_EQ(receiver->hdd().current(), "/Media");
  EXPECT_EQ(TAPDirStackDepth, 0);
  EXPECT_FALSE(Exists("/mnt/hd/Media/SupportLib.log"));
}

TEST_F(LogTest, FullStackKeepsTheOuterEntries)
{
  for(int k = 0; k < DIR_STACK_DEPTH; k++) MakeDir("/mnt/hd/d" + std::to_string(k));
  BootWithSettings();
  for(int k = 0; k < DIR_STACK_DEPTH; k++)
  {
    ASSERT_EQ(HDD_ChangeDir(("/d" + std::to_string(k)).c_str()), 1);
    ASSERT_EQ(HDD_TAP_PushDir(), 1);
  }
  // The log's own push is refused: it must not pop an entry it never pushed,
  // and still has to bring the caller back from the settings folder.
  LogEntryLibPrintf(0, "deep");
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 deep\r\n");
  EXPECT_EQ(receiver->hdd().current(), "/d15");
  EXPECT_EQ(TAPDirStackDepth, DIR_STACK_DEPTH - 1);
  for(int k = DIR_STACK_DEPTH - 1; k >= 0; k--)
  {
    EXPECT_EQ(HDD_TAP_PopDir(), 1);
    EXPECT_EQ(receiver->hdd().current(), "/d" + std::to_string(k));
  }
}

TEST_F(LogTest, EchoGoesOutEvenWhenTheFileCannotBeWritten)
{
  config.terminals = {2};
  MakeDir("/mnt/hd/ProgramFiles/Settings/SupportLib.log");  // a folder in its place
  Boot();
  LogEntryLibPrintf(1, "lost entry");
  EXPECT_EQ(Terminal(2), Echo("2015-01-09 07:05:09  SUPPORTLIB - lost entry\n"));
}

TEST_F(LogTest, PrintNetUsesTheFirstTerminalThatOpens)
{
  const struct {
    std::set<int> open;
    int expected;  // -1: none
  } cases[] = {
    {{0}, 0}, {{1}, 1}, {{0, 1}, 0}, {{3, 7}, 3}, {{19}, 19}, {{20}, -1}, {{}, -1},
  };
  int run = 0;
  for(const auto &c : cases)
  {
    // A fresh root each time: terminals of the last run must not linger.
    receiver.reset();
    config.root = sandbox.path() + "/root" + std::to_string(++run);
    config.terminals = c.open;
    Boot();
    PrintNet("hello");
    for(int n : c.open)
      EXPECT_EQ(Terminal(n), n == c.expected ? Echo("hello") : "") << "terminal " << n;
    if(c.expected != 0) EXPECT_EQ(Terminal(0), "(closed)");
  }
}

TEST_F(LogTest, PrintNetOfNullWritesNothing)
{
  config.terminals = {0};
  Boot();
  PrintNet(nullptr);
  EXPECT_EQ(Terminal(0), "");
}

class LogAllocationTest : public LogTest {};

TEST_F(LogAllocationTest, FailedAllocationIsLoggedWithTheCaller)
{
  config.terminals = {1};
  config.fail_allocation = 2;
  BootWithSettings();
  void *first = TAP_MemAlloc_Chk("LoadFirmwareDat", 64);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(TAP_MemAlloc_Chk("LoadFirmwareDat", 123456), nullptr);
  const std::string message = "TAP_MemAlloc_Chk Warning: TAP_MemAlloc(123456) returned NULL pointer @ LoadFirmwareDat";
  EXPECT_EQ(ReadFile(kLogPath), "2015-01-09 07:05:09 " + message + "\r\n");
  EXPECT_EQ(Terminal(1), Echo("2015-01-09 07:05:09  SUPPORTLIB - " + message + "\n"));
  TAP_MemFree(first);
  EXPECT_EQ(receiver->live_allocations(), 0u);
}

TEST_F(LogAllocationTest, NoCallerNoLog)
{
  config.terminals = {0};
  config.fail_all_allocations = true;
  BootWithSettings();
  EXPECT_EQ(TAP_MemAlloc_Chk(nullptr, 10), nullptr);
  EXPECT_FALSE(Exists(kLogPath));
  EXPECT_EQ(Terminal(0), "");
  EXPECT_EQ(TAP_MemAlloc_Chk("Caller", -1), nullptr);
  EXPECT_EQ(ReadFile(kLogPath),
            "2015-01-09 07:05:09 TAP_MemAlloc_Chk Warning: TAP_MemAlloc(-1) returned NULL pointer @ Caller\r\n");
}

}  // namespace
