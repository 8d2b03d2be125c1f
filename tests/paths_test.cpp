// Paths in TAP and Linux notation, the directory stack and folder changes,
// against the emulated receiver's disk and firmware.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "lib/paths/paths.h"
#include "lib/paths/paths_internal.h"
#include "sim_fixture.h"

namespace {

class PathsTest : public SimTest {
 protected:
  // The receiver's usual disk: /ProgramFiles/Settings/Brimvale/1.ini.
  sim::Receiver &BootWithDisk()
  {
    WriteFile("/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", "[x]\n");
    return Boot();
  }
  // Changes the folder behind the library's back, as another caller would.
  void Enter(const std::string &tap) { ASSERT_EQ(TAP_Hdd_ChangeDir(tap.c_str()), config.chdir_success) << tap; }
  std::string Current() const { return receiver->hdd().current(); }
  size_t ChangeDirCalls() const
  {
    size_t n = 0;
    for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kDisk))
      if(t.rfind("TAP_Hdd_ChangeDir(", 0) == 0) n++;
    return n;
  }
  static std::string Convert(const char *source, dword target)
  {
    char dest[PATH_BUFFER_SIZE];
    std::strcpy(dest, "untouched");
    ConvertPathType(source, dest, target);
    return dest;
  }
};

// ---- current folder and the stack ----

TEST_F(PathsTest, CurrentDirIsTheFirmwaresFolderInTapNotation)
{
  BootWithDisk();
  char dir[PATH_BUFFER_SIZE] = "junk";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(dir), 0);
  EXPECT_STREQ(dir, "/");
  Enter("/ProgramFiles/Settings");
  EXPECT_EQ(HDD_TAP_GetCurrentDir(dir), 0);
  EXPECT_STREQ(dir, "/ProgramFiles/Settings");
  EXPECT_EQ(HDD_TAP_GetCurrentDir(nullptr), 0);
}

// Each firmware is a process of its own: the library keeps the addresses it found.
class PathsNoFirmwareTableTest : public PathsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PathsNoFirmwareTableTest, CurrentDirUnreachableAndPushRefused)
{
  config.firmware.tap_table = GetParam();
  config.firmware.cur_tap_task = !GetParam();
  BootWithDisk();
  char dir[PATH_BUFFER_SIZE] = "junk";
  EXPECT_EQ(HDD_TAP_GetCurrentDir(dir), -3);
  EXPECT_STREQ(dir, "");
  EXPECT_EQ(HDD_TAP_PushDir(), 0);
  EXPECT_EQ(TAPDirStackDepth, -1);
  // Folder changes still work; only the way back is lost.
  EXPECT_EQ(HDD_ChangeDir("/ProgramFiles/Settings"), 1);
  EXPECT_EQ(Current(), "/ProgramFiles/Settings");
}

INSTANTIATE_TEST_SUITE_P(PathsMissingSymbol, PathsNoFirmwareTableTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? std::string("CurTapTask") : std::string("TapTable");
                         });

TEST_F(PathsTest, SeventeenthPushIsRefusedAndItsPopRestoresEntry15)
{
  for(int k = 0; k <= DIR_STACK_DEPTH; k++) MakeDir("/mnt/hd/d" + std::to_string(k));
  Boot();
  for(int k = 0; k < DIR_STACK_DEPTH; k++)
  {
    Enter("/d" + std::to_string(k));
    EXPECT_EQ(HDD_TAP_PushDir(), 1) << k;
    EXPECT_EQ(TAPDirStackDepth, k);
  }
  Enter("/d16");
  EXPECT_EQ(HDD_TAP_PushDir(), 0);
  EXPECT_EQ(TAPDirStackDepth, 15);
  EXPECT_STREQ(TAPDirStack[15], "/d15");

  // Callers pair pushes and pops without testing: the pop of the refused push
  // lands in the folder of push 16.
  EXPECT_EQ(HDD_TAP_PopDir(), 1);
  EXPECT_EQ(Current(), "/d15");
  EXPECT_EQ(TAPDirStackDepth, 14);
  for(int k = 14; k >= 0; k--)
  {
    EXPECT_EQ(HDD_TAP_PopDir(), 1);
    EXPECT_EQ(Current(), "/d" + std::to_string(k));
  }
  EXPECT_EQ(TAPDirStackDepth, -1);
}

TEST_F(PathsTest, PopOnTheEmptyStackChangesNothing)
{
  BootWithDisk();
  Enter("/ProgramFiles");
  size_t calls = ChangeDirCalls();
  EXPECT_EQ(HDD_TAP_PopDir(), 0);
  EXPECT_EQ(TAPDirStackDepth, -1);
  EXPECT_EQ(Current(), "/ProgramFiles");
  EXPECT_EQ(ChangeDirCalls(), calls);
}

TEST_F(PathsTest, FolderTooLongForAnEntryIsNotPushed)
{
  // 199 characters fit an entry of 200; 200 do not, and a cut entry would
  // lead the pop into a different folder.
  std::string fits = "/" + std::string(198, 'f');
  std::string tooLong = "/" + std::string(100, 'g') + "/" + std::string(98, 'g');
  ASSERT_EQ(fits.size(), 199u);
  ASSERT_EQ(tooLong.size(), 200u);
  MakeDir("/mnt/hd" + fits);
  MakeDir("/mnt/hd" + tooLong);
  BootWithDisk();

  Enter(fits);
  EXPECT_EQ(HDD_TAP_PushDir(), 1);
  EXPECT_STREQ(TAPDirStack[0], fits.c_str());

  std::strcpy(TAPDirStack[1], "/older");
  Enter(tooLong);
  EXPECT_EQ(HDD_TAP_PushDir(), 0);
  EXPECT_EQ(TAPDirStackDepth, 0);
  EXPECT_STREQ(TAPDirStack[1], "/older");

  EXPECT_EQ(HDD_TAP_PopDir(), 1);
  EXPECT_EQ(Current(), fits);
}

TEST_F(PathsTest, PushWithoutAFolderObjectSavesNothingToReturnTo)
{
  BootWithDisk();
  Enter("/ProgramFiles");
  ASSERT_EQ(HDD_TAP_PushDir(), 1);
  ASSERT_EQ(HDD_TAP_PopDir(), 1);  // entry 0 now holds an older folder
  Enter("/ProgramFiles/Settings");
  receiver->task_row()[TAP_TASK_FOLDER_WORD] = 0;

  // The push still pairs with its pop, but the pop must not lead back to the
  // folder an older push left in the entry.
  EXPECT_EQ(HDD_TAP_PushDir(), 1);
  EXPECT_STREQ(TAPDirStack[0], "");
  EXPECT_EQ(HDD_TAP_PopDir(), 0);
  EXPECT_EQ(Current(), "/ProgramFiles/Settings");
}

// ---- HDD_ChangeDir on both receiver generations ----

class PathsChangeDirTest : public PathsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override { config.chdir_success = GetParam(); }
};

TEST_P(PathsChangeDirTest, BothNotationsAbsoluteAndRelative)
{
  BootWithDisk();
  const struct {
    const char *path;
    int result;
    const char *folder;  // the current folder afterwards
  } cases[] = {
    {"/mnt/hd/ProgramFiles", 1, "/ProgramFiles"},
    {"Settings", 1, "/ProgramFiles/Settings"},
    {"Brimvale/", 1, "/ProgramFiles/Settings/Brimvale"},
    {"/", 1, "/"},
    {"/ProgramFiles/Settings/", 1, "/ProgramFiles/Settings"},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/", 1, "/ProgramFiles/Settings/Brimvale"},
    {"..", 1, "/ProgramFiles/Settings"},
    {"/mnt/hd", 1, "/"},
    {"/Missing", 0, "/"},
    {"Missing", 0, "/"},
    {"/mnt/hd/Missing", 0, "/"},
    {"/ProgramFiles/Settings/Brimvale/1.ini", 0, "/"},  // a file is no folder
    {"", 0, "/"},
    {nullptr, 0, "/"},
  };
  for(const auto &c : cases)
  {
    EXPECT_EQ(HDD_ChangeDir(c.path), c.result) << (c.path ? c.path : "(null)");
    EXPECT_EQ(Current(), c.folder) << (c.path ? c.path : "(null)");
  }
}

TEST_P(PathsChangeDirTest, SuccessValueIsTakenOnTheFirstCallEvenWithoutAPath)
{
  BootWithDisk();
  Enter("/ProgramFiles/Settings");
  receiver->trace().Clear();
  EXPECT_EQ(HDD_ChangeDir(nullptr), 0);
  EXPECT_EQ(Current(), "/ProgramFiles/Settings");
  const auto disk = receiver->trace().Texts(sim::TraceKind::kDisk);
  ASSERT_FALSE(disk.empty());
  EXPECT_EQ(disk.front(), "TAP_Hdd_ChangeDir(\"/ProgramFiles\") -> ok /ProgramFiles");
  EXPECT_EQ(TAPDirStackDepth, -1);

  // Taken once: later calls make exactly one change each.
  receiver->trace().Clear();
  EXPECT_EQ(HDD_ChangeDir(""), 0);
  EXPECT_EQ(HDD_ChangeDir("/ProgramFiles"), 1);
  EXPECT_EQ(HDD_ChangeDir("/Missing"), 0);
  EXPECT_EQ(ChangeDirCalls(), 2u);
  EXPECT_EQ(Current(), "/ProgramFiles");
}

TEST_P(PathsChangeDirTest, FirstCallOnAFullStackLeavesTheStackAlone)
{
  BootWithDisk();
  Enter("/ProgramFiles/Settings/Brimvale");
  for(int k = 0; k < DIR_STACK_DEPTH; k++) ASSERT_EQ(HDD_TAP_PushDir(), 1);
  EXPECT_EQ(HDD_ChangeDir("/ProgramFiles/Settings"), 1);
  EXPECT_EQ(TAPDirStackDepth, DIR_STACK_DEPTH - 1);
  EXPECT_EQ(HDD_TAP_PopDir(), 1);
  EXPECT_EQ(Current(), "/ProgramFiles/Settings/Brimvale");
}

TEST_P(PathsChangeDirTest, DiskWithoutProgramFilesDoesNotTurnTheMeaningRound)
{
  MakeDir("/mnt/hd/Media");
  Boot();
  EXPECT_EQ(HDD_ChangeDir("/Missing"), 0);
  EXPECT_EQ(Current(), "/");
  EXPECT_EQ(HDD_ChangeDir("/Media"), 1);
  EXPECT_EQ(Current(), "/Media");
}

TEST_P(PathsChangeDirTest, RelativeNameThatIsAlsoALinuxFolderIsRefused)
{
  // "Settings" exists below the process's working folder too, so it reads as
  // a Linux folder outside /mnt/hd: no TAP form, no change.
  config.process_cwd = "/var";
  MakeDir("/var/Settings");
  BootWithDisk();
  Enter("/ProgramFiles");
  EXPECT_EQ(GetPathType("Settings"), static_cast<dword>(PT_LinuxDir));
  EXPECT_EQ(HDD_ChangeDir("Settings"), 0);
  EXPECT_EQ(Current(), "/ProgramFiles");
}

TEST_P(PathsChangeDirTest, LinuxFoldersOutsideTheDiskAreRefused)
{
  MakeDir("/tmp/x");
  MakeDir("/mnt/hd2/Foo");
  MakeDir("/mnt/hd/2/Foo");  // what "/mnt/hd2/Foo" less seven characters would name
  MakeDir("/mnt/hd/tmp/x");
  BootWithDisk();
  for(const char *path : {"/tmp/x", "/tmp/x/", "/mnt/hd2/Foo", "/mnt/hd2/Foo/"})
  {
    EXPECT_EQ(HDD_ChangeDir(path), 0) << path;
    EXPECT_EQ(Current(), "/") << path;
  }
}

TEST_P(PathsChangeDirTest, PathsTooLongForTheBuffersAreRefusedNotCut)
{
  // 510 characters fit the work buffer with the closing "/"; 511 do not, and
  // cutting the last would lead into the folder the first 510 name.
  std::string base = "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(107, 'c');
  ASSERT_EQ(base.size(), 510u);
  MakeDir("/mnt/hd" + base);
  MakeDir("/mnt/hd" + base + "d");
  BootWithDisk();
  EXPECT_EQ(HDD_ChangeDir(base.c_str()), 1);
  EXPECT_EQ(Current(), base);
  EXPECT_EQ(HDD_ChangeDir("/"), 1);
  EXPECT_EQ(HDD_ChangeDir((base + "d").c_str()), 0);
  EXPECT_EQ(Current(), "/");
  EXPECT_EQ(HDD_ChangeDir(std::string(2000, 'x').c_str()), 0);
  EXPECT_EQ(Current(), "/");
}

TEST_P(PathsChangeDirTest, UTF8FirmwareRetriesWithTurkishLatin)
{
  config.firmware.utf8 = true;
  MakeDir("/mnt/hd/ProgramFiles/Kanal \xC4\xB1");  // dotless i, as 8859-9 reads 0xFD
  MakeDir("/mnt/hd/ProgramFiles/Kanal \xC3\xBD");  // y acute, as 8859-1 would read it
  MakeDir("/mnt/hd/ProgramFiles/Gr\xC3\xBC\xC3\x9F" "e");
  BootWithDisk();
  const struct {
    const char *path;
    const char *folder;
  } cases[] = {
    {"/ProgramFiles/Kanal \xFD", "/ProgramFiles/Kanal \xC4\xB1"},
    {"/mnt/hd/ProgramFiles/Kanal \xFD/", "/ProgramFiles/Kanal \xC4\xB1"},
    {"/ProgramFiles/Gr\xFC\xDF" "e", "/ProgramFiles/Gr\xC3\xBC\xC3\x9F" "e"},
    {"/ProgramFiles/Gr\xC3\xBC\xC3\x9F" "e", "/ProgramFiles/Gr\xC3\xBC\xC3\x9F" "e"},
  };
  for(const auto &c : cases)
  {
    ASSERT_EQ(HDD_ChangeDir("/"), 1);
    EXPECT_EQ(HDD_ChangeDir(c.path), 1) << c.path;
    EXPECT_EQ(Current(), c.folder) << c.path;
  }
}

TEST_P(PathsChangeDirTest, OtherFirmwaresMakeNoUTF8Retry)
{
  MakeDir("/mnt/hd/ProgramFiles/Kanal \xC4\xB1");
  BootWithDisk();
  ASSERT_EQ(HDD_ChangeDir("/"), 1);
  receiver->trace().Clear();
  EXPECT_EQ(HDD_ChangeDir("/ProgramFiles/Kanal \xFD"), 0);
  EXPECT_EQ(ChangeDirCalls(), 1u);
  EXPECT_EQ(Current(), "/");
}

TEST_P(PathsChangeDirTest, UTF8FormTooLongIsRefused)
{
  config.firmware.utf8 = true;
  // 300 bytes of 0xFD are 600 in UTF-8: more than a work buffer holds.
  std::string utf8Name;
  for(int k = 0; k < 100; k++) utf8Name += "\xC4\xB1";
  MakeDir("/mnt/hd/" + utf8Name);
  BootWithDisk();
  EXPECT_EQ(HDD_ChangeDir(("/" + std::string(100, '\xFD')).c_str()), 1);
  EXPECT_EQ(Current(), "/" + utf8Name);
  ASSERT_EQ(HDD_ChangeDir("/"), 1);
  receiver->trace().Clear();
  EXPECT_EQ(HDD_ChangeDir(("/" + std::string(300, '\xFD')).c_str()), 0);
  EXPECT_EQ(ChangeDirCalls(), 1u);
  EXPECT_EQ(Current(), "/");
}

INSTANTIATE_TEST_SUITE_P(PathsGenerations, PathsChangeDirTest, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return info.param == 1 ? std::string("SuccessIsOne") : std::string("SuccessIsZero");
                         });

// ---- notation ----

TEST_F(PathsTest, GetPathTypeClassifiesEveryNotation)
{
  MakeDir("/var/LinuxOnly");
  WriteFile("/etc/receiver.conf", "x");
  config.process_cwd = "/var";
  BootWithDisk();
  Enter("/ProgramFiles");
  const struct {
    const char *path;
    dword type;
  } cases[] = {
    {nullptr, PT_FileName},
    {"", PT_FileName},
    {"/", PT_TapDir},
    {".", PT_TapDir},
    {"./anything", PT_TapDir},
    {"..", PT_TapDir},
    {"/mnt/hd/ProgramFiles", PT_LinuxDir},
    {"/mnt/hd/ProgramFiles/", PT_LinuxDir},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_LinuxFile},
    {"/mnt/hd/new/x.ini", PT_LinuxFile},       // not there: by its form
    {"/mnt/hd/new/", PT_LinuxDir},
    {"/etc/receiver.conf", PT_LinuxFile},
    {"/etc", PT_LinuxDir},
    {"LinuxOnly", PT_LinuxDir},                // below the process's working folder
    {"/ProgramFiles/Settings", PT_TapDir},     // a disk folder without its "/"
    {"/ProgramFiles/Settings/", PT_TapDir},
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_TapFile},
    {"/New/x.ini", PT_TapFile},
    {"/New/", PT_TapDir},
    {"Settings", PT_TapDir},                   // a sub-folder of the current folder
    {"Settings/Brimvale", PT_TapDir},
    {"Settings/Brimvale/1.ini", PT_TapFile},
    {"Missing", PT_FileName},
    {"1.ini", PT_FileName},
    {"sub/", PT_TapDir},
    {"/mnt", PT_LinuxDir},
  };
  for(const auto &c : cases) EXPECT_EQ(GetPathType(c.path), c.type) << (c.path ? c.path : "(null)");
}

// Linux itself answers for a path that exists as it stands, links and all:
// a link is no folder of its own, so it is a file even where it leads to one.
TEST(PathsGetPathType, ALinkToAFolderIsALinuxFile)
{
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("brimvale-link-" + std::to_string(getpid()));
  fs::create_directories(root / "folder");
  fs::create_directory_symlink(root / "folder", root / "link");
  EXPECT_EQ(GetPathType((root / "folder").c_str()), static_cast<dword>(PT_LinuxDir));
  EXPECT_EQ(GetPathType((root / "link").c_str()), static_cast<dword>(PT_LinuxFile));
  fs::remove_all(root);
}

TEST_F(PathsTest, BareNameResolvesAgainstTheDiskRootWithoutFirmwareTables)
{
  config.firmware.tap_table = false;
  MakeDir("/mnt/hd/Top");
  Boot();
  EXPECT_EQ(GetPathType("Top"), static_cast<dword>(PT_TapDir));
  EXPECT_EQ(Convert("a.ini", PT_TapFile), "/a.ini");
  EXPECT_EQ(Convert("a.ini", PT_LinuxDir), "/mnt/hd/");
}

struct ConvertCase {
  const char *source;
  dword target;
  const char *expected;
};

TEST_F(PathsTest, ConvertPathTypeEveryCell)
{
  MakeDir("/tmp");
  WriteFile("/etc/receiver.conf", "x");
  WriteFile("/mnt/hd/top.ini", "x");
  BootWithDisk();
  Enter("/ProgramFiles");
  const ConvertCase cases[] = {
    // a file name
    {"1.ini", PT_FileName, "1.ini"},
    {"1.ini", PT_TapDir, "/ProgramFiles/"},
    {"1.ini", PT_LinuxDir, "/mnt/hd/ProgramFiles/"},
    {"1.ini", PT_TapFile, "/ProgramFiles/1.ini"},
    {"1.ini", PT_LinuxFile, "/mnt/hd/ProgramFiles/1.ini"},
    // a TAP folder
    {"/ProgramFiles/Settings", PT_FileName, ""},
    {"/ProgramFiles/Settings", PT_TapDir, "/ProgramFiles/Settings/"},
    {"/ProgramFiles/Settings/", PT_TapDir, "/ProgramFiles/Settings/"},
    {"/ProgramFiles/Settings", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/"},
    {"Settings", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/"},
    {"Settings", PT_TapDir, "Settings/"},
    {"./x", PT_LinuxDir, "/mnt/hd/ProgramFiles/./x/"},
    {"/", PT_LinuxDir, "/mnt/hd/"},
    {"/ProgramFiles/Settings", PT_TapFile, ""},
    {"/ProgramFiles/Settings", PT_LinuxFile, ""},
    // a Linux folder
    {"/mnt/hd/ProgramFiles/Settings", PT_FileName, ""},
    {"/mnt/hd/ProgramFiles/Settings", PT_TapDir, "/ProgramFiles/Settings/"},
    {"/mnt/hd", PT_TapDir, "/"},
    {"/tmp", PT_TapDir, ""},
    {"/mnt/hd/ProgramFiles/Settings", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/"},
    {"/mnt/hd/ProgramFiles/Settings", PT_TapFile, ""},
    {"/mnt/hd/ProgramFiles/Settings", PT_LinuxFile, ""},
    // a TAP file
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_FileName, "1.ini"},
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_TapDir, "/ProgramFiles/Settings/Brimvale/"},
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/Brimvale/"},
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_TapFile, "/ProgramFiles/Settings/Brimvale/1.ini"},
    {"/ProgramFiles/Settings/Brimvale/1.ini", PT_LinuxFile, "/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini"},
    {"/x.ini", PT_TapDir, "/"},
    {"Settings/Brimvale/1.ini", PT_FileName, "1.ini"},
    {"Settings/Brimvale/1.ini", PT_TapDir, "Settings/Brimvale/"},
    {"Settings/Brimvale/1.ini", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/Brimvale/"},
    {"Settings/Brimvale/1.ini", PT_LinuxFile, "/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini"},
    // a Linux file
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_FileName, "1.ini"},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_TapDir, "/ProgramFiles/Settings/Brimvale/"},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_LinuxDir, "/mnt/hd/ProgramFiles/Settings/Brimvale/"},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_TapFile, "/ProgramFiles/Settings/Brimvale/1.ini"},
    {"/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini", PT_LinuxFile, "/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini"},
    {"/mnt/hd/top.ini", PT_TapDir, "/"},
    {"/mnt/hd/top.ini", PT_TapFile, "/top.ini"},
    {"/etc/receiver.conf", PT_FileName, "receiver.conf"},
    {"/etc/receiver.conf", PT_TapDir, ""},
    {"/etc/receiver.conf", PT_LinuxDir, "/etc/"},
    {"/etc/receiver.conf", PT_TapFile, ""},
    {"/mnt/hd2/x.ini", PT_TapFile, ""},  // another mount, not the disk
    // no such notation: the destination stays as it was
    {"1.ini", 5, "untouched"},
    {"/ProgramFiles/Settings", 99, "untouched"},
  };
  for(const ConvertCase &c : cases) EXPECT_EQ(Convert(c.source, c.target), c.expected) << c.source << " -> " << c.target;
}

TEST_F(PathsTest, ConvertAtTheRootAndInPlace)
{
  BootWithDisk();
  EXPECT_EQ(Convert("a.ini", PT_TapFile), "/a.ini");
  EXPECT_EQ(Convert("a.ini", PT_LinuxDir), "/mnt/hd/");
  EXPECT_EQ(Convert("ProgramFiles", PT_LinuxDir), "/mnt/hd/ProgramFiles/");

  char buffer[PATH_BUFFER_SIZE] = "/mnt/hd/ProgramFiles/Settings/Brimvale/1.ini";
  ConvertPathType(buffer, buffer, PT_TapDir);
  EXPECT_STREQ(buffer, "/ProgramFiles/Settings/Brimvale/");

  ConvertPathType(nullptr, buffer, PT_TapDir);
  EXPECT_STREQ(buffer, "/ProgramFiles/Settings/Brimvale/");
  ConvertPathType("x", nullptr, PT_TapDir);  // nothing to write to
}

TEST_F(PathsTest, ConvertedPathsThatDoNotFitAreEmpty)
{
  const std::string deep = "/" + std::string(250, 'a') + "/" + std::string(250, 'b');  // 502 characters
  MakeDir("/mnt/hd" + deep);
  BootWithDisk();
  Enter(deep);
  EXPECT_EQ(Convert("a.ini", PT_TapFile), deep + "/a.ini");  // 508 characters
  EXPECT_EQ(Convert("abcdefghi.ini", PT_TapFile), "");       // 516
  EXPECT_EQ(Convert("a.ini", PT_LinuxFile), "");             // "/mnt/hd" no longer fits
  EXPECT_EQ(Convert(("./" + std::string(509, 'x')).c_str(), PT_TapDir), "");  // no room to close it
  EXPECT_EQ(Convert(("/" + std::string(509, 'x') + "/").c_str(), PT_TapDir), "/" + std::string(509, 'x') + "/");
}

TEST(PathsStringEndsWith, SuffixTests)
{
  const struct {
    const char *text, *suffix;
    int result;
  } cases[] = {
    {"Brimvale.ini", ".ini", 1},     {"Brimvale.ini", "Brimvale.ini", 1}, {"Brimvale.ini", ".INI", 0},
    {"Brimvale.ini", ".inx", 0},     {"ini", "x.ini", 0},                 {"/", "/", 1},
    {"path/", "/", 1},               {"", "", 0},                         {"text", "", 0},
    {"", "x", 0},                    {nullptr, "x", 0},                   {"x", nullptr, 0},
  };
  for(const auto &c : cases)
    EXPECT_EQ(StringEndsWith(c.text, c.suffix), c.result)
        << (c.text ? c.text : "(null)") << " / " << (c.suffix ? c.suffix : "(null)");
}

}  // namespace
