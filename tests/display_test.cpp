// The message bar, the status icons and the run log on the emulated receiver.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Brimvale.h"
#include "app/display.h"
#include "app/images.h"
#include "app/runlog.h"
#include "lib/paths/paths.h"
#include "sim_fixture.h"

namespace {

const std::string kLogs = "/mnt/hd/ProgramFiles/Settings/Brimvale/Logs";
const std::string kLogFile = kLogs + "/Brimvale.log";

// Every TAP_Osd_PutGd call, with the image it was given.
struct Drawn {
  int x, y;
  const TYPE_GrData *gd;
  int sprite;
};
std::vector<Drawn> g_drawn;
int (*g_hostPutGd)(word, int, int, const TYPE_GrData *, int);
int g_textWidth = -1;  // >= 0: what TAP_Osd_GetW answers
int (*g_hostGetW)(const char *, byte, byte);

int RecordingPutGd(word rgn, int x, int y, const TYPE_GrData *gd, int sprite)
{
  g_drawn.push_back({x, y, gd, sprite});
  return g_hostPutGd(rgn, x, y, gd, sprite);
}

int FixedGetW(const char *text, byte font, byte size)
{
  return g_textWidth >= 0 ? g_textWidth : g_hostGetW(text, font, size);
}

const char *ImageName(const TYPE_GrData *gd)
{
  if(gd == &_try_Gd) return "try";
  if(gd == &_ok_Gd) return "ok";
  if(gd == &_ok_failed_Gd) return "ok_failed";
  if(gd == &_failed_Gd) return "failed";
  if(gd == &_disconnected_Gd) return "disconnected";
  if(gd == &_recManual_Gd) return "recManual";
  return "?";
}

class DisplayTest : public SimTest {
 protected:
  DisplayTest()
  {
    config.year = 2026, config.month = 12, config.day = 7;
    config.hour = 5, config.minute = 45, config.second = 22;
  }
  void SetUp() override
  {
    Boot();
    // The code's statics outlive a test when the binary runs all tests in one process.
    imgoffset = IMG_OFFSET_START;
    LastTry = mountinfo = 0;
    showmounttick = debugtick = 0;
    Silentmode = NASRecord = logfile = tapexit = 0;
    TotalNAS = 1;
    memset(ServerTable, 0, sizeof(ServerTable));
    for(ServerRecord &s : ServerTable) s.pingGap = 30;
    g_drawn.clear();
    g_textWidth = -1;
    g_hostPutGd = TAP_Osd_PutGd;
    TAP_Osd_PutGd = RecordingPutGd;
    g_hostGetW = TAP_Osd_GetW;
    TAP_Osd_GetW = FixedGetW;
  }
  void TearDown() override
  {
    TAP_Osd_PutGd = g_hostPutGd;
    TAP_Osd_GetW = g_hostGetW;
  }
  // A fresh receiver for the next row of a table.
  void Restart()
  {
    TearDown();
    receiver.reset();
    SetUp();
  }

  std::vector<std::string> Osd() const { return receiver->trace().Texts(sim::TraceKind::kOsd); }
  std::vector<std::string> PutS() const
  {
    std::vector<std::string> out;
    for(const std::string &t : Osd())
      if(t.rfind("TAP_Osd_PutS", 0) == 0) out.push_back(t);
    return out;
  }
  dword Now() const { return receiver->clock().tick(); }
};

std::string Count(int x, const char *number)
{
  return "TAP_Osd_PutS(1, " + std::to_string(x) + ", 42, 620, 0xffeeeeee, 0x00000000, 0, 0, 0, 0) \"" + number + "\"";
}

// ---- one icon: the image, its marks and numbers, its expiry ----

TEST_F(DisplayTest, ShowMountPicksTheFirstRuleThatApplies)
{
  const struct {
    int ok, failed, server, record;
    const char *image;
    int sprite;
    bool recMark;
    std::vector<std::string> numbers;
    bool expires;
  } cases[] = {
    {0, 0, 1, 0, "try", 1, false, {}, false},
    {99, 99, 2, 0, "disconnected", 0, false, {}, true},
    {99, 98, 2, 0, "ok_failed", 1, false, {Count(589, "99"), Count(557, "98")}, true},
    {99, 0, 1, 0, "ok", 0, false, {Count(589, "99")}, true},
    {0, 99, 1, 0, "failed", 1, false, {Count(589, "99")}, true},
    {3, 0, 1, 0, "ok", 0, false, {Count(589, "3")}, true},
    {3, 0, 1, 1, "ok", 0, true, {Count(589, "3")}, true},
    {3, 0, 2, 1, "ok", 0, false, {Count(589, "3")}, true},
    {2, 1, 1, 1, "ok_failed", 1, false, {Count(589, "2"), Count(557, "1")}, true},
    {0, 4, 3, 0, "failed", 1, false, {Count(589, "4")}, true},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.ok) + "/" + std::to_string(c.failed) + " server " + std::to_string(c.server));
    Restart();
    NASRecord = c.record;
    ServerTable[c.server].pingGap = 45;
    receiver->clock().Advance(1234);
    dword now = Now();

    ShowMount(c.ok, c.failed, c.server);

    ASSERT_EQ(g_drawn.size(), c.recMark ? 2u : 1u);
    EXPECT_STREQ(ImageName(g_drawn[0].gd), c.image);
    EXPECT_EQ(g_drawn[0].x, 554);
    EXPECT_EQ(g_drawn[0].y, 0);
    EXPECT_EQ(g_drawn[0].sprite, c.sprite);
    if(c.recMark)
    {
      EXPECT_EQ(g_drawn[1].gd, &_recManual_Gd);
      EXPECT_EQ(g_drawn[1].x, 556);
      EXPECT_EQ(g_drawn[1].y, 41);
      EXPECT_EQ(g_drawn[1].sprite, 1);
    }
    EXPECT_EQ(PutS(), c.numbers);
    EXPECT_EQ(showmounttick, c.expires ? now + 500 : 0u);
    EXPECT_EQ(LastTry, std::string(c.image) == "try" ? c.server : 0);
    // Only a disconnection moves the server's next ping.
    EXPECT_EQ(ServerTable[c.server].nextProbeTick, std::string(c.image) == "disconnected" ? now + 4500 : 0u);

    std::vector<std::string> osd = Osd();
    ASSERT_GE(osd.size(), 2u);
    EXPECT_EQ(osd.front(), "TAP_Osd_Create(90, 30, 600, 60, 8192) -> 1");
    EXPECT_EQ(osd.back(), "TAP_Osd_Sync");
    EXPECT_EQ(mountinfo, 1);
    EXPECT_EQ(imgoffset, 440);
  }
}

// ---- where icons go ----

struct Step {
  int ok, failed, server;  // server 0: HideMount
};
const Step kHide = {0, 0, 0};

TEST_F(DisplayTest, IconsFillTheRowFromTheRightAndOutcomesReplaceTheirTryIcon)
{
  const struct {
    const char *name;
    std::vector<Step> steps;
    std::vector<int> xs;  // x of each status icon drawn
  } cases[] = {
    {"outcomes fill leftwards, then pile up at the left end",
     {{1, 0, 1}, {1, 0, 2}, {1, 0, 3}, {1, 0, 4}, {1, 0, 5}, {1, 0, 6}, {1, 0, 7}, {1, 0, 8}, {1, 0, 9},
      {1, 0, 1}, {1, 0, 2}},
     {554, 494, 434, 374, 314, 254, 194, 134, 74, 54, 54}},
    {"outcome over its own try icon", {{0, 0, 1}, {2, 0, 1}, {1, 0, 2}}, {554, 554, 494}},
    {"a failed attempt's retry over its try icon", {{0, 0, 1}, {0, 0, 1}, {0, 3, 1}}, {554, 554, 554}},
    {"another icon in between: the outcome takes the next place", {{0, 0, 1}, {0, 0, 2}, {1, 0, 1}}, {554, 494, 434}},
    {"another server's outcome in between", {{0, 0, 1}, {99, 99, 2}, {1, 1, 1}}, {554, 494, 434}},
    {"ninth place: the outcome stays on its try icon",
     {{1, 0, 1}, {1, 0, 2}, {1, 0, 3}, {1, 0, 4}, {1, 0, 5}, {1, 0, 6}, {1, 0, 7}, {1, 0, 8}, {0, 0, 9}, {1, 0, 9},
      {1, 0, 1}},
     {554, 494, 434, 374, 314, 254, 194, 134, 74, 74, 54}},
    {"tenth place: the outcome stays on its try icon",
     {{1, 0, 1}, {1, 0, 2}, {1, 0, 3}, {1, 0, 4}, {1, 0, 5}, {1, 0, 6}, {1, 0, 7}, {1, 0, 8}, {1, 0, 9}, {0, 0, 1},
      {0, 2, 1}},
     {554, 494, 434, 374, 314, 254, 194, 134, 74, 54, 54}},
    {"row removed between a try icon and its outcome", {{0, 0, 3}, kHide, {1, 0, 3}, {1, 0, 4}}, {554, 554, 494}},
    {"row removed after some icons: starts again at the right",
     {{1, 0, 1}, {1, 0, 2}, {0, 0, 3}, kHide, {0, 0, 3}, {1, 0, 3}}, {554, 494, 434, 554, 554}},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.name);
    Restart();
    TotalNAS = 9;
    for(const Step &s : c.steps)
    {
      if(s.server == 0)
        HideMount();
      else
        ShowMount(s.ok, s.failed, s.server);
    }
    std::vector<int> xs;
    for(const Drawn &d : g_drawn)
    {
      if(d.gd == &_recManual_Gd) continue;
      xs.push_back(d.x);
      EXPECT_GE(d.x, 0);
      EXPECT_LE(d.x + STATUS_ICON_WIDTH, 600) << "outside the icon region";
    }
    EXPECT_EQ(xs, c.xs);
  }
}

TEST_F(DisplayTest, NumbersAndLabelMoveWithTheIcon)
{
  TotalNAS = 3;
  g_textWidth = 10;
  ShowMount(1, 0, 1);
  ShowMount(2, 5, 3);
  std::vector<std::string> texts = PutS();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[2], "TAP_Osd_PutS(1, 529, 42, 560, 0xffeeeeee, 0x00000000, 0, 0, 0, 0) \"2\"");
  EXPECT_EQ(texts[3], "TAP_Osd_PutS(1, 497, 42, 560, 0xffeeeeee, 0x00000000, 0, 0, 0, 0) \"5\"");
  EXPECT_EQ(texts[4], "TAP_Osd_PutS(1, 495, 1, 508, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"3\"");
}

TEST_F(DisplayTest, ServerLabelsOnlyWithTwoOrMoreServers)
{
  const struct {
    int total, server, width;
    const char *label;  // null: none drawn
  } cases[] = {
    {1, 1, 10, nullptr},
    {0, 1, 10, nullptr},
    {2, 1, 10, "TAP_Osd_PutS(1, 555, 1, 568, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"1\""},
    {9, 7, 10, "TAP_Osd_PutS(1, 555, 1, 568, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"7\""},
    {2, 2, 4, "TAP_Osd_PutS(1, 555, 1, 567, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"2\""},
    {2, 2, 0, "TAP_Osd_PutS(1, 555, 1, 567, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"2\""},
    {2, 2, 9, "TAP_Osd_PutS(1, 555, 1, 567, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"2\""},
    {2, 2, 15, "TAP_Osd_PutS(1, 555, 1, 573, 0xffeeeeee, 0xff7b7b7b, 0, 0, 0, 0) \"2\""},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.total) + " servers, width " + std::to_string(c.width));
    Restart();
    TotalNAS = c.total;
    g_textWidth = c.width;
    ShowMount(0, 0, c.server);  // the try icon has no numbers
    std::vector<std::string> texts = PutS();
    if(c.label == nullptr)
      EXPECT_TRUE(texts.empty());
    else
      EXPECT_EQ(texts, std::vector<std::string>{c.label});
  }
}

TEST_F(DisplayTest, SilentModeDrawsNothingAndChangesNothing)
{
  const Step cases[] = {{0, 0, 1}, {99, 99, 1}, {99, 98, 1}, {1, 0, 1}, {0, 1, 1}};
  for(const Step &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.ok) + "/" + std::to_string(c.failed));
    Restart();
    Silentmode = 1;
    NASRecord = 1;
    TotalNAS = 2;
    imgoffset = 380;
    LastTry = 1;
    mountinfo = 1;
    showmounttick = 777;
    ServerTable[1].nextProbeTick = 555;
    ShowMount(c.ok, c.failed, c.server);
    EXPECT_TRUE(Osd().empty());
    EXPECT_EQ(imgoffset, 380);
    EXPECT_EQ(LastTry, 1);
    EXPECT_EQ(mountinfo, 1);
    EXPECT_EQ(showmounttick, 777u);
    EXPECT_EQ(ServerTable[1].nextProbeTick, 555u);
  }
}

TEST_F(DisplayTest, ServerNumbersOutsideTheTableDrawNothing)
{
  for(int server : {0, 10, -1, 1000000})
  {
    ShowMount(99, 99, server);
    ShowMount(1, 0, server);
  }
  EXPECT_TRUE(Osd().empty());
  EXPECT_EQ(imgoffset, 500);
}

TEST_F(DisplayTest, HideMountRemovesTheRowAndTheNextIconStartsANewOne)
{
  ShowMount(1, 0, 1);
  ShowMount(0, 0, 2);
  receiver->trace().Clear();
  HideMount();
  EXPECT_EQ(Osd(), (std::vector<std::string>{"TAP_Osd_Delete(1)", "TAP_Osd_Sync"}));
  EXPECT_EQ(imgoffset, 500);
  EXPECT_EQ(showmounttick, 0u);
  EXPECT_EQ(mountinfo, 0);
  EXPECT_FALSE(receiver->screen().Exists(1));

  receiver->trace().Clear();
  HideMount();  // no row: nothing to delete, and no stale region number used
  EXPECT_EQ(Osd(), std::vector<std::string>{"TAP_Osd_Sync"});

  ShowMount(1, 0, 2);
  EXPECT_EQ(Osd()[1], "TAP_Osd_Create(90, 30, 600, 60, 8192) -> 2");
  EXPECT_EQ(g_drawn.back().x, 554);
}

TEST_F(DisplayTest, IconExpiryNeverLandsOnTheNoExpiryValue)
{
  receiver->clock().Advance(0xFFFFFFFFu - Now() - 499);  // now + 500 wraps to 0
  ShowMount(1, 0, 1);
  EXPECT_NE(showmounttick, 0u);
}

// ---- the message bar ----

TEST_F(DisplayTest, ShowLogDrawsTheBarAndReusesItWhileShown)
{
  receiver->clock().Advance(50);
  dword now = Now();
  ShowLog("Portmap failed - TAP will be terminated!", 300);
  EXPECT_EQ(Osd(), (std::vector<std::string>{
                       "TAP_SysOsdControl(1, 0)",
                       "TAP_Osd_Create(30, 65, 660, 30, 2) -> 1",
                       "TAP_Osd_Draw3dBoxFill(1, 0, 0, 660, 30, 0xff7f7f7f, 0xff7f7f7f, 0xff181818)",
                       "TAP_Osd_PutS(1, 3, 6, 657, 0xffffffe0, 0xff181818, 0, 0, 0, 1) "
                       "\"Portmap failed - TAP will be terminated!\"",
                       "TAP_Osd_Sync",
                   }));
  EXPECT_EQ(debugtick, now + 300);
  EXPECT_FALSE(receiver->screen().SystemOsdShown(1));

  receiver->trace().Clear();
  receiver->clock().Advance(100);
  ShowLog("second", 1000);
  EXPECT_EQ(Osd(), (std::vector<std::string>{
                       "TAP_SysOsdControl(1, 0)",
                       "TAP_Osd_Draw3dBoxFill(1, 0, 0, 660, 30, 0xff7f7f7f, 0xff7f7f7f, 0xff181818)",
                       "TAP_Osd_PutS(1, 3, 6, 657, 0xffffffe0, 0xff181818, 0, 0, 0, 1) \"second\"",
                       "TAP_Osd_Sync",
                   }));
  EXPECT_EQ(debugtick, now + 1100);
  EXPECT_EQ(receiver->screen().regions().size(), 1u);
}

TEST_F(DisplayTest, HideLogRemovesTheBarAndEndsATerminatingPlugin)
{
  const struct {
    int tapexit;
    bool exits;
  } cases[] = {{0, false}, {1, true}, {2, false}, {-1, false}};
  for(const auto &c : cases)
  {
    SCOPED_TRACE("tapexit " + std::to_string(c.tapexit));
    Restart();
    tapexit = c.tapexit;
    ShowLog("message", 300);
    receiver->trace().Clear();
    HideLog();
    EXPECT_EQ(Osd(), (std::vector<std::string>{"TAP_Osd_Delete(1)", "TAP_SysOsdControl(1, 1)", "TAP_Osd_Sync"}));
    EXPECT_EQ(debugtick, 0u);
    EXPECT_TRUE(receiver->screen().SystemOsdShown(1));
    EXPECT_EQ(receiver->exit_called(), c.exits);

    // The next message makes a new bar.
    ShowLog("again", 300);
    EXPECT_EQ(receiver->screen().regions().size(), 1u);
    EXPECT_TRUE(receiver->screen().Exists(2));
  }
}

TEST_F(DisplayTest, HideLogWithoutABarDeletesNoRegionButStillExits)
{
  ShowLog("gone", 300);
  HideLog();
  ShowMount(1, 0, 1);
  // A host that hands out region numbers again gives the icon row the bar's old number.
  inforegion = mountregion;
  tapexit = 1;
  HideLog();
  EXPECT_TRUE(receiver->screen().Exists(mountregion));
  EXPECT_TRUE(receiver->exit_called());
}

TEST_F(DisplayTest, BarExpiryNeverLandsOnTheNoBarValue)
{
  receiver->clock().Advance(0xFFFFFFFFu - Now() - 299);  // now + 300 wraps to 0
  ShowLog("x", 300);
  EXPECT_NE(debugtick, 0u);
  receiver->trace().Clear();
  ShowLog("y", 300);  // still the same bar
  EXPECT_EQ(receiver->screen().regions().size(), 1u);
}

// ---- the run log ----

class DisplayLogTest : public DisplayTest {
 protected:
  void SetUp() override
  {
    DisplayTest::SetUp();
    MakeDir(kLogs);
    MakeDir("/mnt/hd/MediaFiles");
    ASSERT_EQ(HDD_ChangeDir("/MediaFiles"), 1);
    logfile = 1;
  }
};

TEST_F(DisplayLogTest, WriteLogAppendsExactlyFormattedLines)
{
  const struct {
    int year, month, day, hour, minute, second;
    const char *text, *line;
  } cases[] = {
    {2026, 12, 7, 5, 45, 22, "Check Networkstatus", "07.12.2026 05:45:22 -> Check Networkstatus\r\n"},
    {2011, 1, 2, 0, 0, 0, "Brimvale 3.1 started", "02.01.2011 00:00:00 -> Brimvale 3.1 started\r\n"},
    {2030, 10, 31, 23, 59, 59, "", "31.10.2030 23:59:59 -> \r\n"},
    {2026, 2, 28, 9, 5, 7, "Rechte f\xfcr busybox %d %s", "28.02.2026 09:05:07 -> Rechte f\xfcr busybox %d %s\r\n"},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.line);
    config.year = c.year, config.month = c.month, config.day = c.day;
    config.hour = c.hour, config.minute = c.minute, config.second = c.second;
    Restart();
    std::filesystem::remove(HostPath(kLogFile));
    WriteLog(c.text);
    EXPECT_EQ(ReadFile(kLogFile), c.line);
    EXPECT_EQ(receiver->hdd().current(), "/ProgramFiles/Settings/Brimvale/Logs");
  }
}

TEST_F(DisplayLogTest, WriteLogKeepsWhatIsThereAndOpensTheFileForEveryLine)
{
  WriteFile(kLogFile, "old line\r\n");
  WriteLog("one");
  receiver->clock().Advance(100);
  WriteLog("two");
  EXPECT_EQ(ReadFile(kLogFile), "old line\r\n07.12.2026 05:45:22 -> one\r\n07.12.2026 05:45:23 -> two\r\n");
  size_t opens = 0, closes = 0;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kDisk))
  {
    opens += t.rfind("TAP_Hdd_Fopen(\"Brimvale.log\")", 0) == 0;
    closes += t.rfind("TAP_Hdd_Fclose(", 0) == 0;
  }
  EXPECT_EQ(opens, 2u);
  EXPECT_EQ(closes, 2u);
}

TEST_F(DisplayLogTest, WriteLogWritesNothingUnlessLogfileIsOne)
{
  for(int value : {0, 2, -1})
  {
    SCOPED_TRACE(value);
    receiver->trace().Clear();
    logfile = value;
    WriteLog("not logged");
    EXPECT_FALSE(Exists(kLogFile));
    EXPECT_EQ(receiver->hdd().current(), "/MediaFiles");
    EXPECT_TRUE(receiver->trace().Texts(sim::TraceKind::kDisk).empty());
  }
}

TEST_F(DisplayLogTest, ATooLongTextIsCutButTheLineKeepsItsEnd)
{
  const struct {
    size_t length;
    size_t lineLength;
  } cases[] = {
    {485, 510},
    {486, 511},  // 23 bytes of time stamp + text + CR LF: just fits
    {487, 511},
    {600, 511},
    {100000, 511},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.length);
    std::filesystem::remove(HostPath(kLogFile));
    std::string text(c.length, 'x');
    WriteLog(text.c_str());
    WriteLog("next");
    std::string log = ReadFile(kLogFile);
    ASSERT_EQ(log.size(), c.lineLength + 29);
    EXPECT_EQ(log.substr(0, 23), "07.12.2026 05:45:22 -> ");
    EXPECT_EQ(log.substr(23, c.lineLength - 25), std::string(c.lineLength - 25, 'x'));
    EXPECT_EQ(log.substr(c.lineLength - 2, 2), "\r\n");
    EXPECT_EQ(log.substr(c.lineLength), "07.12.2026 05:45:22 -> next\r\n");
  }
}

TEST_F(DisplayLogTest, WithoutTheLogsFolderTheLineIsDroppedNotWrittenElsewhere)
{
  std::filesystem::remove_all(HostPath(kLogs));
  WriteLog("lost");
  EXPECT_FALSE(Exists("/mnt/hd/MediaFiles/Brimvale.log"));
  EXPECT_FALSE(Exists(kLogFile));
}

// ---- the images ----

// The host's decompression, zlib, loaded at run time so the tests need no
// extra library to link. Fed one byte at a time: the block's size is the
// host's business, so nothing past the end of the stream may be read.
// Returns the pixel bytes, or an empty vector when the stream is broken or
// holds more than `limit` bytes.
std::vector<unsigned char> Inflate(const byte *block, size_t limit, size_t *consumed)
{
  static void *zlib = dlopen("libz.so.1", RTLD_NOW);
  if(zlib == nullptr) return {};
  auto init = reinterpret_cast<int (*)(z_stream *, const char *, int)>(dlsym(zlib, "inflateInit_"));
  auto inflate = reinterpret_cast<int (*)(z_stream *, int)>(dlsym(zlib, "inflate"));
  auto end = reinterpret_cast<int (*)(z_stream *)>(dlsym(zlib, "inflateEnd"));
  if(init == nullptr || inflate == nullptr || end == nullptr) return {};

  std::vector<unsigned char> out(limit + 1);
  z_stream z{};
  if(init(&z, ZLIB_VERSION, sizeof(z)) != Z_OK) return {};
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int status = Z_OK;
  const size_t kMaxBlock = 1u << 20;
  while(status == Z_OK && z.total_in < kMaxBlock)
  {
    z.next_in = const_cast<Bytef *>(block + z.total_in);
    z.avail_in = 1;
    status = inflate(&z, Z_NO_FLUSH);
  }
  *consumed = z.total_in;
  size_t produced = z.total_out;
  end(&z);
  if(status != Z_STREAM_END || produced > limit) return {};
  out.resize(produced);
  return out;
}

struct Argb {
  unsigned a, r, g, b;
};

Argb Pixel(const std::vector<unsigned char> &pixels, const TYPE_GrData &gd, int x, int y)
{
  size_t at = (static_cast<size_t>(y) * gd.width + x) * (gd.psize == GD_FORMAT_ARGB8888 ? 4 : 2);
  if(gd.psize == GD_FORMAT_ARGB8888)
    return {pixels[at + 3], pixels[at + 2], pixels[at + 1], pixels[at]};
  unsigned v = pixels[at] | pixels[at + 1] << 8;
  return {v >> 15 ? 255u : 0u, (v >> 10 & 31) << 3, (v >> 5 & 31) << 3, (v & 31) << 3};
}

enum Colour { kClear, kGreen, kRed, kAmber, kGrey, kWhite, kDark };

bool Is(const Argb &p, Colour c)
{
  if(c == kClear) return p.a == 0;
  if(p.a < 200) return false;
  switch(c)
  {
    case kGreen: return p.g > 140 && p.r < 100 && p.b < 120;
    case kRed: return p.r > 180 && p.g < 90 && p.b < 90;
    case kAmber: return p.r > 200 && p.g > 130 && p.g < 200 && p.b < 80;
    case kGrey: return p.r > 70 && p.r < 180 && abs(int(p.r) - int(p.g)) < 20 && abs(int(p.g) - int(p.b)) < 20;
    case kWhite: return p.r > 220 && p.g > 220 && p.b > 220;
    case kDark: return p.r < 60 && p.g < 60 && p.b < 60;
    default: return false;
  }
}

TEST(DisplayImages, EveryImageHasItsSizeFormatAndRecognisablePixels)
{
  ASSERT_NE(dlopen("libz.so.1", RTLD_NOW), nullptr) << "the host's decompression, zlib, is missing";
  const struct {
    const char *name;
    const TYPE_GrData &gd;
    const byte *block;
    int width, height, psize;
    dword pixelBytes;
    std::vector<std::pair<std::pair<int, int>, Colour>> marks;
  } cases[] = {
    // Badge: left (14, 29), right (31, 29); the foot where the counts go (40, 50).
    {"try", _try_Gd, _try_Cpm, 46, 60, 1, 11040, {{{0, 0}, kClear}, {{14, 29}, kAmber}, {{31, 29}, kAmber}, {{23, 29}, kDark}, {{40, 50}, kDark}}},
    {"ok", _ok_Gd, _ok_Cpm, 46, 60, 1, 11040, {{{0, 0}, kClear}, {{14, 29}, kGreen}, {{31, 29}, kGreen}, {{21, 33}, kWhite}, {{40, 50}, kDark}}},
    {"ok_failed", _ok_failed_Gd, _ok_failed_Cpm, 46, 60, 0, 5520, {{{0, 0}, kClear}, {{18, 22}, kRed}, {{28, 22}, kGreen}, {{40, 50}, kDark}, {{5, 50}, kDark}}},
    {"failed", _failed_Gd, _failed_Cpm, 46, 60, 1, 11040, {{{45, 59}, kClear}, {{14, 29}, kRed}, {{31, 29}, kRed}, {{23, 29}, kWhite}, {{40, 50}, kDark}}},
    {"disconnected", _disconnected_Gd, _disconnected_Cpm, 46, 60, 1, 11040, {{{0, 59}, kClear}, {{14, 29}, kGrey}, {{30, 22}, kWhite}, {{40, 50}, kDark}}},
    {"recManual", _recManual_Gd, _recManual_Cpm, 16, 16, 1, 1024, {{{0, 0}, kClear}, {{15, 15}, kClear}, {{9, 10}, kRed}, {{6, 1}, kWhite}}},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.gd.version, 1);
    EXPECT_EQ(c.gd.reserved, 0);
    EXPECT_EQ(c.gd.psize, c.psize);
    EXPECT_EQ(c.gd.compression, 2);
    EXPECT_EQ(c.gd.data, c.block);
    EXPECT_EQ(c.gd.width, c.width);
    EXPECT_EQ(c.gd.height, c.height);
    EXPECT_EQ(c.gd.dataSize, c.pixelBytes);

    size_t consumed = 0;
    std::vector<unsigned char> pixels = Inflate(c.block, c.pixelBytes, &consumed);
    ASSERT_EQ(pixels.size(), c.pixelBytes) << "not a zlib stream of the image's pixels";
    EXPECT_LT(consumed, c.pixelBytes) << "the block is not compressed";
    for(const auto &m : c.marks)
    {
      Argb p = Pixel(pixels, c.gd, m.first.first, m.first.second);
      EXPECT_TRUE(Is(p, m.second)) << "pixel (" << m.first.first << ", " << m.first.second << ") = a" << p.a << " r"
                                   << p.r << " g" << p.g << " b" << p.b << ", expected colour " << m.second;
    }
  }
}

}  // namespace

namespace {

// ---- on the emulated screen ----

class DisplayScreenTest : public DisplayTest {
 protected:
  DisplayScreenTest() { config.screenshot_dir = sandbox.path() + "/shots"; }

  uint32_t At(int x, int y) const { return receiver->screen().Compose()[static_cast<size_t>(y) * sim::kScreenWidth + x]; }
  static Argb Split(uint32_t p) { return {p >> 24, p >> 16 & 0xff, p >> 8 & 0xff, p & 0xff}; }
  // Pixels of one colour in a screen rectangle.
  size_t CountIn(int x0, int y0, int x1, int y1, bool (*match)(uint32_t)) const
  {
    std::vector<uint32_t> screen = receiver->screen().Compose();
    size_t n = 0;
    for(int y = y0; y < y1; ++y)
      for(int x = x0; x < x1; ++x) n += match(screen[static_cast<size_t>(y) * sim::kScreenWidth + x]);
    return n;
  }
  std::vector<std::string> Shots() const
  {
    std::vector<std::string> names;
    for(const auto &entry : std::filesystem::directory_iterator(config.screenshot_dir))
      names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // BRIMVALE_KEEP_SCREENSHOTS=<folder> keeps the pictures for a person to look at.
  void Keep() const
  {
    const char *keep = getenv("BRIMVALE_KEEP_SCREENSHOTS");
    if(keep == nullptr || *keep == '\0') return;
    std::filesystem::create_directories(keep);
    for(const std::string &shot : Shots())
      std::filesystem::copy_file(shot, std::string(keep) + "/" + std::filesystem::path(shot).filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
  }
};

bool PaleYellow(uint32_t p) { return (p >> 16 & 0xff) > 200 && (p >> 8 & 0xff) > 200 && (p & 0xff) > 150; }
bool LightGrey(uint32_t p) { return (p >> 16 & 0xff) > 200 && (p >> 8 & 0xff) > 200 && (p & 0xff) > 200; }

TEST_F(DisplayScreenTest, TheIconRowAndBothLanguagesOfTheBarReadAtAGlance)
{
  std::filesystem::create_directories(config.screenshot_dir);
  TotalNAS = 5;
  NASRecord = 1;
  g_textWidth = -1;  // the receiver's own font
  ShowMount(3, 0, 1);    // screen x 644
  ShowMount(2, 1, 2);    // 584
  ShowMount(0, 4, 3);    // 524
  ShowMount(99, 99, 4);  // 464
  ShowMount(0, 0, 5);    // 404
  ASSERT_EQ(Shots().size(), 5u) << "a picture at every sync";

  // Badges: left and right of each badge's centre, 30 pixels below the row's top.
  const struct {
    int x;
    Colour left, right;
  } icons[] = {
      {644, kGreen, kGreen}, {584, kRed, kGreen}, {524, kRed, kRed}, {464, kGrey, kGrey}, {404, kAmber, kAmber},
  };
  for(const auto &icon : icons)
  {
    SCOPED_TRACE(icon.x);
    int badgeY = icon.left == kRed && icon.right == kGreen ? 30 + 22 : 30 + 29;
    int dx = icon.left == kRed && icon.right == kGreen ? 18 : 14;
    EXPECT_TRUE(Is(Split(At(icon.x + dx, badgeY)), icon.left));
    EXPECT_TRUE(Is(Split(At(icon.x + 46 - dx, badgeY)), icon.right));
    // The server number on its grey box at the top left.
    EXPECT_GT(CountIn(icon.x + 1, 31, icon.x + 14, 50, LightGrey), 5u);
  }
  // The recording mark over server 1's foot, and the counts in the feet.
  EXPECT_TRUE(Is(Split(At(644 + 2 + 9, 30 + 41 + 10)), kRed));
  EXPECT_GT(CountIn(644 + 35, 72, 644 + 46, 90, LightGrey), 5u) << "server 1: 3 mounted";
  EXPECT_GT(CountIn(584 + 35, 72, 584 + 46, 90, LightGrey), 5u) << "server 2: 2 mounted";
  EXPECT_GT(CountIn(584 + 3, 72, 584 + 14, 90, LightGrey), 5u) << "server 2: 1 failed";
  EXPECT_GT(CountIn(524 + 35, 72, 524 + 46, 90, LightGrey), 5u) << "server 3: 4 failed";
  EXPECT_EQ(CountIn(464 + 3, 72, 464 + 44, 90, LightGrey), 0u) << "no counts when disconnected";
  EXPECT_EQ(CountIn(404 + 3, 72, 404 + 44, 90, LightGrey), 0u) << "no counts while trying";
  // Left of the fifth icon the row is still empty: the video shows through.
  EXPECT_EQ(At(300, 60), sim::kVideoBlack);

  HideMount();
  ShowLog("Portmap failed - TAP will be terminated!", 300);
  EXPECT_EQ(At(30 + 300, 65 + 2), 0xff181818u) << "the bar's fill, below its edge";
  size_t english = CountIn(30, 65, 690, 95, PaleYellow);
  EXPECT_GT(english, 100u);
  ShowLog("Rechte f\xfcr busybox konnten nicht gesetzt werden - TAP wird beendet!", 300);
  size_t german = CountIn(30, 65, 690, 95, PaleYellow);
  EXPECT_GT(german, english) << "the longer text";
  // The text stays inside the bar.
  EXPECT_EQ(CountIn(30, 55, 690, 65, PaleYellow) + CountIn(30, 95, 690, 105, PaleYellow), 0u);
  EXPECT_EQ(Shots().size(), 8u);
  Keep();
}

}  // namespace
