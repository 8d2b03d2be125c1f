// The INI store against the emulated receiver's disk: reading, changing and
// writing settings files byte for byte as earlier versions did.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "lib/ini/ini.h"
#include "lib/ini/ini_internal.h"
#include "lib/paths/paths.h"
#include "lib/paths/paths_internal.h"
#include "sim_fixture.h"

namespace {

const std::string kPF = "/mnt/hd/ProgramFiles";
const std::string kSettings = kPF + "/Settings";
const std::string kApp = kSettings + "/Brimvale";
const std::string kMedia = "/mnt/hd/MediaFiles";

class IniTest : public SimTest {
 protected:
  void SetUp() override
  {
    Boot();
    MakeDir(kMedia);
    ASSERT_EQ(HDD_ChangeDir("/MediaFiles"), 1);
  }
  void TearDown() override { INICloseFile(); }

  // The store holding `text` as loaded from a settings file.
  void Open(const std::string &text)
  {
    WriteFile(kSettings + "/t.ini", text);
    ASSERT_EQ(INIOpenFile("t.ini", nullptr), IniLoc_Settings);
  }
  static std::string Text() { return INIBuffer != nullptr ? std::string(INIBuffer) : "<closed>"; }
  std::string Current() const { return receiver->hdd().current(); }
  size_t Allocations() const
  {
    size_t n = 0;
    for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kMemory)) n += t.rfind("TAP_MemAlloc", 0) == 0;
    return n;
  }
};

// ---- reading ----

TEST(IniSkipCharTableBytes, SkipsSelectorsButNeverTheTerminator)
{
  const struct {
    const char *text;
    long skipped;
  } cases[] = {
    {"\x10\x01\x02" "a", 3}, {"\x1f\x01" "a", 2}, {"\x05" "a", 1}, {"\r\n", 1}, {"a", 0}, {" a", 0},
    {"", 0}, {"\xff" "a", 0}, {"\x80", 0}, {"\x10", 1}, {"\x10" "a", 2}, {"\x1f", 1},
  };
  for(const auto &c : cases) EXPECT_EQ(SkipCharTableBytes(c.text) - c.text, c.skipped) << testing::PrintToString(c.text);
  EXPECT_EQ(SkipCharTableBytes(nullptr), nullptr);
}

TEST(IniStricstr, FindsTheFirstMatchIgnoringAsciiCase)
{
  const struct {
    const char *text, *pattern;
    long at;  // -1: none
  } cases[] = {
    {"Hello World", "world", 6}, {"aAbB", "AB", 1}, {"abc", "abcd", -1}, {"abc", "", -1}, {"", "a", -1},
    {"xx[a]", "[A]", 2}, {"\x10\x01\x02xyz", "XYZ", 3}, {"axyz", "\x05xyz", 1},
    {"\xe4x", "\xc4x", -1}, {"x\xe4", "\xe4", 1}, {"@", "`", -1}, {"_a", "\x7f" "a", -1},
  };
  for(const auto &c : cases)
  {
    const char *hit = stricstr(c.text, c.pattern);
    EXPECT_EQ(hit == nullptr ? -1 : hit - c.text, c.at) << testing::PrintToString(c.text) << " / " << c.pattern;
  }
  EXPECT_EQ(stricstr(nullptr, "a"), nullptr);
  EXPECT_EQ(stricstr("a", nullptr), nullptr);
}

TEST_F(IniTest, FindStartEndMarksKeyAndValue)
{
  const struct {
    const char *text, *entryKey;
    dword limit;
    long start, end;  // offsets, -1: null
  } cases[] = {
    {"a=12345\r\n", "a=", 100, 0, 6},
    {"a=12345\r\n", "A=", 4, 0, 3},
    {"a=\r\n", "a=", 100, 0, 1},
    {"#a=1\nba=2\r\n", "a=", 100, 6, 8},
    {"x\r\na=1", "a=", 100, 3, -1},  // no line end after it
    {"a=1\r\n", "b=", 100, -1, -1},
  };
  for(const auto &c : cases)
  {
    INICloseFile();
    Open(c.text);
    // Loading adds a line end to a text without one: take the text as it was.
    std::string text = c.text;
    memcpy(INIBuffer, text.c_str(), text.size() + 1);
    char *start = INIBuffer, *end = INIBuffer;
    INIFindStartEnd(c.entryKey, &start, &end, c.limit);
    EXPECT_EQ(start == nullptr ? -1 : start - INIBuffer, c.start) << testing::PrintToString(c.text);
    EXPECT_EQ(end == nullptr ? -1 : end - INIBuffer, c.end) << testing::PrintToString(c.text);
  }
  char *start = INIBuffer, *end = INIBuffer;
  INIFindStartEnd("a=", &start, &end, 0);
  EXPECT_TRUE(start == INIBuffer && end == INIBuffer);  // limit 0: nothing done
  INICloseFile();
  INIFindStartEnd("a=", &start, &end, 100);
  EXPECT_TRUE(start == nullptr && end == nullptr);
}

TEST_F(IniTest, KeyMatching)
{
  const std::string k78(78, 'k');
  const struct {
    std::string text, key, expected;  // "-": the default
  } cases[] = {
    {"Automount=1\r\n", "Automount", "1"},
    {"AUTOMOUNT=0\r\n", "Automount", "0"},
    {"#Automount=0\r\nAutomount=1\r\n", "Automount", "1"},
    {";Automount=0\r\nAutomount=1\r\n", "automount", "1"},
    {"# Automount=0\r\nAutomount=1\r\n", "Automount", "0"},
    {"#Automount=0\r\n", "Automount", "-"},
    {"Ping Gap=30\r\nGap=5\r\n", "Gap", "30"},
    {"Gap=5\r\nPing Gap=30\r\n", "Gap", "5"},
    {"Ping Gap = 30\r\n", "Ping Gap", "-"},
    {"Ping Gap =30\r\n", "Ping Gap ", "30"},
    {"Automount=\r\nAutomount=1\r\n", "Automount", "-"},
    {"Automount\r\nx=1\r\n", "Automount", "-"},
    {"a=1\nb=2\n", "b", "2"},
    {"a=1\rb=2\r\n", "a", "1"},
    {"a=1\rb=2\r", "b", "2"},
    {"a=1\n\rb=2\r\n", "a", "1"},
    {"a=x y \t\r\n", "a", "x y \t"},
    {"name=a=b", "name", "a=b"},
    {k78 + "=v\r\n", k78 + "XYZ", "v"},
    {k78 + "Q=v\r\n", k78 + "Q", "-"},
    {"a\r\nb=1\r\n", "a\r\nb", "-"},
  };
  for(const auto &c : cases)
  {
    INICloseFile();
    Open(c.text);
    char value[64];
    EXPECT_EQ(INIGetString(c.key.c_str(), value, "-", sizeof(value)), 1);
    EXPECT_EQ(std::string(value), c.expected) << testing::PrintToString(c.text) << " key " << c.key;
  }
}

TEST_F(IniTest, GetStringCutsToTheDestination)
{
  Open("v=123456789012345678901234567890\r\n");
  const struct {
    const char *key;
    dword size;
    std::string expected;
  } cases[] = {
    {"v", 20, "1234567890123456789"}, {"v", 31, "123456789012345678901234567890"},
    {"v", 30, "12345678901234567890123456789"}, {"v", 1, ""}, {"missing", 4, "def"}, {"missing", 3, "de"},
  };
  for(const auto &c : cases)
  {
    char value[40];
    memset(value, '#', sizeof(value));
    EXPECT_EQ(INIGetString(c.key, value, "default", c.size), 1);
    EXPECT_EQ(std::string(value), c.expected) << c.size;
    EXPECT_EQ(value[c.size], '#') << "written past " << c.size;
  }
  char value[8] = "keep";
  EXPECT_EQ(INIGetString("v", value, "d", 0), 0);
  EXPECT_STREQ(value, "keep");
  EXPECT_EQ(INIGetString(nullptr, value, "d", sizeof(value)), 0);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(INIGetString("v", value, nullptr, sizeof(value)), 0);
  EXPECT_EQ(INIGetString("v", nullptr, "d", sizeof(value)), 0);
  INICloseFile();
  EXPECT_EQ(INIGetString("v", value, "closed", sizeof(value)), 1);
  EXPECT_STREQ(value, "closed");
}

TEST_F(IniTest, GetIntValidatesSaturatesAndClamps)
{
  const struct {
    const char *value;
    int def, min, max, expected;
  } cases[] = {
    {"007", -1, 0, 100, 7},
    {"-3", -1, 0, 100, 0},
    {"700", -1, 0, 600, 600},
    {"5", -1, 10, 300, 10},
    {"-5", 99, -10, 10, -5},
    {"-0", 99, -10, 10, 0},
    {"12a", 99, 0, 1, 99},  // the default is not clamped
    {"-", 99, 0, 1, 99},
    {"+5", 99, 0, 100, 99},
    {" 5", 99, 0, 100, 99},
    {"5 ", 99, 0, 100, 99},
    {"0x1F", 99, 0, 100, 99},
    {"--5", 99, -10, 100, 99},
    {"", 99, 0, 1, 99},
    {"2147483647", 0, INT_MIN, INT_MAX, INT_MAX},
    {"-2147483648", 0, INT_MIN, INT_MAX, INT_MIN},
    {"2147483648", 0, INT_MIN, INT_MAX, INT_MAX},
    {"4294967295", 0, INT_MIN, INT_MAX, INT_MAX},
    {"-2147483649", 0, INT_MIN, INT_MAX, INT_MIN},
    {"99999999999", 30, 0, 600, 600},
    {"-99999999999", 30, 0, 600, 0},
    {"123456789012345", 0, INT_MIN, INT_MAX, INT_MAX},  // only 11 characters are examined
    {"12345678901x", 0, 0, 600, 600},
    {"0000000000000000000000042", 0, 0, 100, 42},
  };
  for(const auto &c : cases)
  {
    INICloseFile();
    Open(std::string("x=1\r\nn=") + c.value + "\r\n");
    EXPECT_EQ(INIGetInt("N", c.def, c.min, c.max), c.expected) << '"' << c.value << '"';
  }
  EXPECT_EQ(INIGetInt(nullptr, 5, 0, 10), 0);
  EXPECT_EQ(INIGetInt("missing", 500, 0, 10), 500);
}

// ---- changing ----

TEST_F(IniTest, SetReplacesOrAppendsAndKeepsEverythingElse)
{
  const struct {
    std::string file, key, value, expected;
  } cases[] = {
    {"a=1\r\nb=2\r\n", "b", "30", "a=1\r\nb=30\r\n"},
    {"a=1\nb=2\nc=3\n", "B", "x", "a=1\nB=x\nc=3\n"},
    {"a=1\rb=2\r", "a", "9", "a=9\rb=2\r"},
    {"a=1\rb=2\r\n", "a", "9", "a=9\rb=2\r\n"},
    {"#a=1\r\n", "a", "2", "#a=1\r\na=2\r\n"},
    {"Ping Gap=30\r\n", "Gap", "5", "Ping Gap=5\r\n"},
    {"a=\r\nz=0\r\n", "a", "1", "a=1\r\nz=0\r\n"},
    {"a=1\r\n", "a", "", "a=\r\n"},
    {"; note\r\n\r\nx\r\n", "k", "v", "; note\r\n\r\nx\r\nk=v\r\n"},
    {"a=1", "b", "2", "a=1\r\nb=2\r\n"},
    {"", "k", "v", "\r\nk=v\r\n"},
    {"a=1\r\n", "b", "x\r\nLogfile=1", "a=1\r\nb=x\r\n"},
    {"a=1\r\n", "a\r\nb", "2", "a=1\r\n"},
    {std::string("a=1\r\n\0b=2\r\n", 11), "c", "3", "a=1\r\nc=3\r\n"},  // nothing after a zero byte
  };
  for(const auto &c : cases)
  {
    INICloseFile();
    Open(c.file);
    INISetString(c.key.c_str(), c.value.c_str());
    EXPECT_EQ(Text(), c.expected) << testing::PrintToString(c.file) << " " << c.key << "=" << c.value;
  }
  INISetInt("n", INT_MIN);
  EXPECT_EQ(INIGetInt("n", 0, INT_MIN, INT_MAX), INT_MIN);
  EXPECT_NE(Text().find("n=-2147483648\r\n"), std::string::npos);
  INISetString(nullptr, "x");
  INISetString("x", nullptr);
  EXPECT_EQ(Text(), "a=1\r\nc=3\r\nn=-2147483648\r\n");
}

TEST_F(IniTest, LoadedBuffersKeepSlackAndGrowOneStep)
{
  const struct {
    size_t length;
    dword size;
  } loads[] = {{0, 1024}, {1, 1024}, {511, 1024}, {512, 1536}, {1500, 2048}};
  for(const auto &l : loads)
  {
    INICloseFile();
    Open(std::string(l.length, 'x'));
    EXPECT_EQ(BufferSize, l.size) << l.length;
  }

  // 500 bytes of text, "k=", the value, line end and terminator: 1024 bytes
  // with a value of 519 characters, 1025 with 520.
  const struct {
    size_t valueLength;
    dword size;
    bool stored;
  } appends[] = {{519, 1024, true}, {520, 2048, true}, {1543, 2048, true}, {1544, 1024, false}};
  const std::string file = std::string(498, 'x') + "\r\n";
  for(const auto &a : appends)
  {
    INICloseFile();
    Open(file);
    size_t before = Allocations();
    std::string value(a.valueLength, 'v');
    INISetString("k", value.c_str());
    EXPECT_EQ(BufferSize, a.size) << a.valueLength;
    EXPECT_EQ(Text(), a.stored ? file + "k=" + value + "\r\n" : file) << a.valueLength;
    EXPECT_EQ(Allocations() - before, a.size != 1024 ? 1u : 0u) << a.valueLength;
  }

  // From 1536 bytes (1000 loaded) the step still ends at the next multiple
  // of 1024, not 1024 bytes further: 2048 holds a value of 1043 at most.
  const struct {
    size_t valueLength;
    dword size;
    bool stored;
  } fromOdd[] = {{532, 2048, true}, {1043, 2048, true}, {1044, 1536, false}};
  const std::string odd = std::string(998, 'x') + "\r\n";
  for(const auto &a : fromOdd)
  {
    INICloseFile();
    Open(odd);
    ASSERT_EQ(BufferSize, 1536u);
    std::string value(a.valueLength, 'v');
    INISetString("k", value.c_str());
    EXPECT_EQ(BufferSize, a.size) << a.valueLength;
    EXPECT_EQ(Text(), a.stored ? odd + "k=" + value + "\r\n" : odd) << a.valueLength;
  }
  INICloseFile();
  EXPECT_EQ(receiver->live_allocations(), 0u);
}

class IniNoMemoryTest : public IniTest {
 protected:
  void SetUp() override
  {
    config.fail_allocation = 2;  // the open's buffer is the first
    IniTest::SetUp();
  }
};

TEST_F(IniNoMemoryTest, FailedGrowthKeepsTheOldText)
{
  const std::string file = "a=1\r\n" + std::string(1000, '#') + "\r\n";
  Open(file);
  char *before = INIBuffer;
  INISetString("b", std::string(600, 'v').c_str());  // needs the next step
  EXPECT_EQ(INIBuffer, before);
  EXPECT_EQ(BufferSize, 1536u);
  EXPECT_EQ(Text(), file);
  INISetString("a", "2");  // a replacement takes a new buffer as well
  EXPECT_EQ(Text(), "a=2\r\n" + std::string(1000, '#') + "\r\n");
}

TEST_F(IniNoMemoryTest, FailedReplacementKeepsTheOldText)
{
  Open("a=1\r\nb=2\r\n");
  INISetString("a", "7");
  EXPECT_EQ(Text(), "a=1\r\nb=2\r\n");
  EXPECT_EQ(INIGetInt("a", 0, 0, 9), 1);
}

// ---- finding and opening ----

TEST_F(IniTest, SearchOrderAndTheFolderLeftCurrent)
{
  enum { CUR = 1, PF = 2, SET = 4, APP = 8 };
  const struct {
    int places;
    const char *app;
    IniLocation expected;
    const char *folder;  // current after INILocateFile
  } cases[] = {
    {0, "Brimvale", IniLoc_None, "/MediaFiles"},
    {PF, "Brimvale", IniLoc_ProgramFiles, "/ProgramFiles"},
    {SET, "Brimvale", IniLoc_Settings, "/ProgramFiles/Settings"},
    {APP, "Brimvale", IniLoc_AppFolder, "/ProgramFiles/Settings/Brimvale"},
    {PF | SET, "Brimvale", IniLoc_Settings, "/ProgramFiles/Settings"},
    {PF | APP, "Brimvale", IniLoc_AppFolder, "/ProgramFiles/Settings/Brimvale"},
    {CUR | PF | SET | APP, "Brimvale", IniLoc_CurrentDir, "/MediaFiles"},
    {APP, nullptr, IniLoc_None, "/MediaFiles"},
    {APP, "", IniLoc_None, "/MediaFiles"},
    {APP | PF, "/ProgramFiles/Settings/Brimvale", IniLoc_ProgramFiles, "/ProgramFiles"},
    {SET, "Missing", IniLoc_Settings, "/ProgramFiles/Settings"},
  };
  for(const auto &c : cases)
  {
    std::filesystem::remove_all(HostPath(kPF));
    std::filesystem::remove(HostPath(kMedia + "/s.ini"));
    MakeDir(kApp);
    if(c.places & CUR) WriteFile(kMedia + "/s.ini", "at=cur\r\n");
    if(c.places & PF) WriteFile(kPF + "/s.ini", "at=pf\r\n");
    if(c.places & SET) WriteFile(kSettings + "/s.ini", "at=settings\r\n");
    if(c.places & APP) WriteFile(kApp + "/s.ini", "at=app\r\n");
    ASSERT_EQ(HDD_ChangeDir("/MediaFiles"), 1);
    EXPECT_EQ(INILocateFile("s.ini", c.app), c.expected) << c.places << " " << (c.app ? c.app : "null");
    EXPECT_EQ(Current(), c.folder) << c.places;

    ASSERT_EQ(HDD_ChangeDir("/MediaFiles"), 1);
    IniLocation opened = INIOpenFile("s.ini", c.app);
    EXPECT_EQ(opened, c.expected == IniLoc_None ? IniLoc_New : c.expected);
    EXPECT_EQ(Current(), "/MediaFiles") << "open must restore the folder";
    INICloseFile();
  }
  EXPECT_EQ(INILocateFile(nullptr, "Brimvale"), IniLoc_None);
  EXPECT_EQ(receiver->live_allocations(), 0u);
}

TEST_F(IniTest, OpenOfAMissingFileGivesAnEmptyBuffer)
{
  EXPECT_EQ(INIOpenFile("none.ini", "Brimvale"), IniLoc_New);
  ASSERT_NE(INIBuffer, nullptr);
  EXPECT_EQ(BufferSize, 512u);
  EXPECT_EQ(std::string(INIBuffer, 512), std::string(512, '\0'));
  MakeDir(kPF);
  EXPECT_EQ(INISaveFile("none.ini", IniLoc_New, "Brimvale"), 1);  // an empty text is saved too
  EXPECT_TRUE(Exists(kPF + "/none.ini"));
  EXPECT_EQ(ReadFile(kPF + "/none.ini"), "");

  // A file without a name is not there either.
  for(const char *name : {static_cast<const char *>(nullptr), ""})
  {
    INICloseFile();
    EXPECT_EQ(INIOpenFile(name, "Brimvale"), IniLoc_New);
    ASSERT_NE(INIBuffer, nullptr);
    EXPECT_EQ(std::string(INIBuffer, BufferSize), std::string(512, '\0'));
    EXPECT_EQ(Current(), "/MediaFiles");
  }
}

TEST_F(IniTest, AFullFolderStackStillLeavesTheCallersFolder)
{
  WriteFile(kApp + "/found.ini", "a=1\r\n");
  for(int k = 0; k < DIR_STACK_DEPTH; k++) ASSERT_EQ(HDD_TAP_PushDir(), 1);
  // Each call's own push is refused; the search and the save still wander
  // through the settings folders and must come back all the same.
  EXPECT_EQ(INIOpenFile("found.ini", "Brimvale"), IniLoc_AppFolder);
  EXPECT_EQ(Current(), "/MediaFiles") << "open of a file that is there";
  EXPECT_EQ(INISaveFile("found.ini", IniLoc_AppFolder, "Brimvale"), 1);
  EXPECT_EQ(Current(), "/MediaFiles") << "save";
  EXPECT_EQ(INIOpenFile("missing.ini", "Brimvale"), IniLoc_New);
  EXPECT_EQ(Current(), "/MediaFiles") << "open of a file that is not";
  EXPECT_EQ(TAPDirStackDepth, DIR_STACK_DEPTH - 1);
}

TEST_F(IniTest, OpenReopenAndCloseLeakNothing)
{
  Open("a=1\r\n");
  Open("a=2\r\n");  // still open: the first buffer must go
  EXPECT_EQ(receiver->live_allocations(), 1u);
  EXPECT_EQ(INIGetInt("a", 0, 0, 9), 2);
  INICloseFile();
  INICloseFile();
  EXPECT_EQ(receiver->live_allocations(), 0u);
  EXPECT_EQ(BufferSize, 0u);
}

TEST_F(IniTest, FailedOpensLeaveNoBufferAndCloseIsHarmless)
{
  MakeDir(kSettings + "/dir.ini");  // exists, but is no file
  EXPECT_EQ(INIOpenFile("dir.ini", nullptr), IniLoc_None);
  EXPECT_EQ(INIBuffer, nullptr);
  EXPECT_EQ(Current(), "/MediaFiles");
  INICloseFile();

  // 512 × (L / 512 + 2) would wrap to 512 bytes for this length.
  WriteFile(kSettings + "/huge.ini", "");
  std::filesystem::resize_file(HostPath(kSettings + "/huge.ini"), 0xFFFFFE00u);  // sparse: takes no room
  EXPECT_EQ(INIOpenFile("huge.ini", nullptr), IniLoc_None);
  EXPECT_EQ(receiver->trace().Count(sim::TraceKind::kMemory), 0u);

  // The file shrinks between taking its length and reading it.
  WriteFile(kSettings + "/short.ini", "a=1\r\nb=2\r\n");
  receiver->trace().SetListener([this](const sim::TraceEntry &e) {
    if(e.text.rfind("TAP_MemAlloc", 0) == 0) std::filesystem::resize_file(HostPath(kSettings + "/short.ini"), 4);
  });
  EXPECT_EQ(INIOpenFile("short.ini", nullptr), IniLoc_None);
  receiver->trace().SetListener(nullptr);
  EXPECT_EQ(INIBuffer, nullptr);
  EXPECT_EQ(INIGetInt("a", 7, 0, 9), 7);
  INISetString("a", "5");
  EXPECT_EQ(INISaveFile("short.ini", IniLoc_Settings, nullptr), 0);
  EXPECT_EQ(ReadFile(kSettings + "/short.ini"), "a=1\r");
  INICloseFile();
  EXPECT_EQ(receiver->live_allocations(), 0u);
}

TEST_F(IniTest, OpenWithoutMemoryFails)
{
  receiver.reset();
  config.fail_all_allocations = true;
  Boot();
  WriteFile(kSettings + "/t.ini", "a=1\r\n");
  EXPECT_EQ(INIOpenFile("t.ini", nullptr), IniLoc_None);
  EXPECT_EQ(INIOpenFile("missing.ini", nullptr), IniLoc_None);
  EXPECT_EQ(INIBuffer, nullptr);
  EXPECT_EQ(BufferSize, 0u);
  INICloseFile();
}

// ---- saving ----

TEST_F(IniTest, SaveAtEveryLocationCreatesTheFolders)
{
  const struct {
    int location;
    const char *app;
    std::string path;  // "": nothing written
  } cases[] = {
    {IniLoc_None, "Brimvale", kPF + "/s.ini"},
    {IniLoc_New, "Brimvale", kPF + "/s.ini"},
    {IniLoc_CurrentDir, "Brimvale", kMedia + "/s.ini"},
    {IniLoc_AppFolder, "Brimvale", kApp + "/s.ini"},
    {IniLoc_Settings, "Brimvale", kSettings + "/s.ini"},
    {IniLoc_ProgramFiles, nullptr, kPF + "/s.ini"},
    {6, "Brimvale", ""},
    {IniLoc_AppFolder, "", ""},
    {IniLoc_AppFolder, nullptr, ""},
    {IniLoc_AppFolder, "/Brimvale", ""},
  };
  Open("a=1\r\n");
  INISetString("b", "2");
  for(const auto &c : cases)
  {
    std::filesystem::remove_all(HostPath(kPF));
    std::filesystem::remove(HostPath(kMedia + "/s.ini"));
    MakeDir(kPF);
    EXPECT_EQ(INISaveFile("s.ini", (IniLocation)c.location, c.app), c.path.empty() ? 0 : 1) << c.location;
    for(const std::string &p : {kPF + "/s.ini", kSettings + "/s.ini", kApp + "/s.ini", kMedia + "/s.ini"})
      EXPECT_EQ(Exists(p), p == c.path) << c.location << " " << p;
    if(!c.path.empty()) EXPECT_EQ(ReadFile(c.path), "a=1\r\nb=2\r\n");
    if(!c.path.empty()) EXPECT_FALSE(Exists(c.path + ".new"));
    EXPECT_EQ(Current(), "/MediaFiles");
  }
  std::filesystem::remove_all(HostPath(kPF));
  EXPECT_EQ(INISaveFile("s.ini", IniLoc_Settings, nullptr), 0);  // no /ProgramFiles
  EXPECT_FALSE(Exists(kSettings));
  INICloseFile();
  EXPECT_EQ(INISaveFile("s.ini", IniLoc_CurrentDir, nullptr), 0);  // nothing open
  EXPECT_FALSE(Exists(kMedia + "/s.ini"));
}

TEST_F(IniTest, SaveReplacesTheWholeOldFile)
{
  Open("a=1234567890\r\n# kept\r\n");
  INISetString("A", "1");
  EXPECT_EQ(INISaveFile("t.ini", IniLoc_Settings, nullptr), 1);
  EXPECT_EQ(ReadFile(kSettings + "/t.ini"), "A=1\r\n# kept\r\n");
}

TEST_F(IniTest, SaveOnAFullDiskKeepsTheOldFile)
{
  std::string old;
  for(int k = 0; old.size() < 20000; k++) old += "key" + std::to_string(k) + "=value\r\n";
  Open(old);
  INISetString("extra", "1");

  // Writes beyond 4 KB fail as on a full disk.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = INISaveFile("t.ini", IniLoc_Settings, nullptr);
  setrlimit(RLIMIT_FSIZE, &saved);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(kSettings + "/t.ini"), old);
  EXPECT_FALSE(Exists(kSettings + "/t.ini.new"));
  EXPECT_EQ(INISaveFile("t.ini", IniLoc_Settings, nullptr), 1);  // and with room again
  EXPECT_EQ(ReadFile(kSettings + "/t.ini"), old + "extra=1\r\n");
}

}  // namespace
