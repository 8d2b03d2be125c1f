// The settings files read into the server table, and the main file written
// for the user when there is none.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Brimvale.h"
#include "app/command.h"
#include "app/display.h"
#include "app/settings.h"
#include "lib/ini/ini.h"
#include "lib/paths/paths.h"
#include "sim_fixture.h"

namespace {

const std::string kPF = "/mnt/hd/ProgramFiles";
const std::string kApp = kPF + "/Settings/Brimvale";
const std::string kMain = kApp + "/Brimvale.ini";

// What start-up writes when Brimvale.ini is missing, line by line.
const char kNewMainFile[] =
    "NAS IP-Address=192.168.0.10\r\n"
    "NAS MAC-Address=ff:ff:ff:ff:ff:ff\r\n"
    "Local Folder Name=NAS-Share\r\n"
    "Remotefolder MediaFiles=/mnt/Files/MediaFiles\r\n"
    "Remotefolder MP3Files=/mnt/Files/MP3Files\r\n"
    "Remotefolder PhotoFiles=/mnt/Files/PhotoFiles\r\n"
    "Remotefolder DataFiles=/mnt/Files/DataFiles\r\n"
    "Mountoptions=-osoft,intr,tcp,rsize=65535,nolock\r\n"
    "NAS Boottime=30\r\n"
    "Automount=1\r\n"
    "Ping Wait=3\r\n"
    "Ping Gap=30\r\n"
    "MountDelay=30\r\n"
    "NAS Recording=0\r\n"
    "Timerdelay=0\r\n"
    "SilentMode=0\r\n";

class SettingsTest : public SimTest {
 protected:
  void SetUp() override
  {
    Boot();
    // The code's statics outlive a test when the binary runs all tests in one process.
    memset(ServerTable, 0, sizeof(ServerTable));
    lang = TotalNAS = tapexit = 0;
    Initialdelay = INITIAL_DELAY_SECONDS;
    NASRecord = Timerdelay = Silentmode = logfile = 0;
    debugtick = 0;
    // Start-up's folders, and its current folder when it loads the settings.
    MakeDir(kApp + "/Logs");
    ASSERT_EQ(HDD_ChangeDir("/ProgramFiles/Settings/Brimvale"), 1);
  }
  void TearDown() override { INICloseFile(); }

  void Restart()
  {
    TearDown();
    receiver.reset();
    std::filesystem::remove_all(config.root);
    SetUp();
  }

  // A byte pattern over record `n`, to see whether a load touched it.
  static void Scribble(int n) { memset(&ServerTable[n], 0x5A, sizeof(ServerRecord)); }
  static bool Untouched(int n)
  {
    ServerRecord pattern;
    memset(&pattern, 0x5A, sizeof(pattern));
    return memcmp(&pattern, &ServerTable[n], sizeof(pattern)) == 0;
  }

  size_t Creates(const std::string &name) const
  {
    size_t n = 0;
    for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kDisk))
      n += t.rfind("TAP_Hdd_Create(\"" + name + "\", 208)", 0) == 0;
    return n;
  }
  std::vector<std::string> BarTexts() const
  {
    std::vector<std::string> out;
    for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kOsd))
      if(t.rfind("TAP_Osd_PutS", 0) == 0) out.push_back(t.substr(t.find('"')));
    return out;
  }
};

// ---- numbers: default, range, and what counts as a number ----

struct IntKey {
  const char *key;
  int (*read)(int n);
};

int BootTime(int n) { return ServerTable[n].bootTime; }
int AutoMount(int n) { return ServerTable[n].autoMount; }
int PingWait(int n) { return ServerTable[n].pingWait; }
int PingGap(int n) { return ServerTable[n].pingGap; }
int Recording(int) { return NASRecord; }
int TimerDelay(int) { return Timerdelay; }
int MountDelay(int) { return Initialdelay; }
int Silent(int) { return Silentmode; }
int LogFile(int) { return logfile; }

const IntKey kBootTime = {"NAS Boottime", BootTime};
const IntKey kAutoMount = {"Automount", AutoMount};
const IntKey kPingWait = {"Ping Wait", PingWait};
const IntKey kPingGap = {"Ping Gap", PingGap};
const IntKey kRecording = {"NAS Recording", Recording};
const IntKey kTimerDelay = {"Timerdelay", TimerDelay};
const IntKey kMountDelay = {"MountDelay", MountDelay};
const IntKey kSilent = {"SilentMode", Silent};
const IntKey kLogFile = {"Logfile", LogFile};

TEST_F(SettingsTest, EveryNumberGetsItsDefaultOrIsForcedIntoItsRange)
{
  const char *kMissing = nullptr;
  const struct {
    IntKey key;
    const char *value;  // null: no such line
    int expected;
  } cases[] = {
    {kBootTime, kMissing, 30}, {kBootTime, "45", 45}, {kBootTime, "900", 600}, {kBootTime, "-5", 0},
    {kBootTime, "0", 0}, {kBootTime, "600", 600}, {kBootTime, "601", 600}, {kBootTime, "", 30},
    {kBootTime, "abc", 30}, {kBootTime, " 45", 45}, {kBootTime, "45\t ", 45}, {kBootTime, "4 5", 30}, {kBootTime, "+45", 30}, {kBootTime, "0x20", 30},
    {kBootTime, "45s", 30}, {kBootTime, "007", 7}, {kBootTime, "99999999999", 600}, {kBootTime, "-99999999999", 0},
    {kAutoMount, kMissing, 1}, {kAutoMount, "0", 0}, {kAutoMount, "1", 1}, {kAutoMount, "2", 1},
    {kAutoMount, "-1", 0}, {kAutoMount, "yes", 1},
    {kPingWait, kMissing, 3}, {kPingWait, "0", 1}, {kPingWait, "1", 1}, {kPingWait, "10", 10},
    {kPingWait, "11", 10}, {kPingWait, "7", 7}, {kPingWait, "-", 3},
    {kPingGap, kMissing, 30}, {kPingGap, "5", 10}, {kPingGap, "10", 10}, {kPingGap, "300", 300},
    {kPingGap, "301", 300}, {kPingGap, "120", 120},
    {kRecording, kMissing, 0}, {kRecording, "1", 1}, {kRecording, "5", 1}, {kRecording, "on", 0},
    {kTimerDelay, kMissing, 0}, {kTimerDelay, "1", 1}, {kTimerDelay, "-3", 0},
    {kMountDelay, kMissing, 0}, {kMountDelay, "45", 45}, {kMountDelay, "700", 600}, {kMountDelay, "-1", 0},
    {kSilent, kMissing, 0}, {kSilent, "1", 1}, {kSilent, "2", 1},
    {kLogFile, kMissing, 0}, {kLogFile, "1", 1}, {kLogFile, "9", 1}, {kLogFile, "x", 0},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(std::string(c.key.key) + "=" + (c.value ? c.value : "<missing>"));
    Restart();
    std::string text = "NAS IP-Address=10.0.0.2\r\n";
    if(c.value != nullptr) text += std::string(c.key.key) + "=" + c.value + "\r\n";
    WriteFile(kMain, text);
    ASSERT_EQ(LoadINI("Brimvale.ini", 1), 1);
    EXPECT_EQ(c.key.read(1), c.expected);
  }
}

TEST_F(SettingsTest, ServerFilesFillTheirOwnRecordAndIgnoreTheGlobalKeys)
{
  WriteFile(kMain, "NAS IP-Address=10.0.0.1\r\nLocal Folder Name=one\r\nPing Gap=100\r\n");
  WriteFile(kApp + "/2.ini",
            "NAS IP-Address=10.0.0.2\r\nLocal Folder Name=two\r\nPing Gap=200\r\nPing Wait=0\r\nAutomount=0\r\n"
            "NAS Recording=1\r\nTimerdelay=1\r\nMountDelay=99\r\nSilentMode=1\r\nLogfile=1\r\n");
  Scribble(3);
  ASSERT_EQ(LoadINI("Brimvale.ini", 1), 1);
  ASSERT_EQ(LoadINI("2.ini", 2), 1);
  EXPECT_STREQ(ServerTable[1].address, "10.0.0.1");
  EXPECT_STREQ(ServerTable[1].localName, "one");
  EXPECT_EQ(ServerTable[1].pingGap, 100);
  EXPECT_STREQ(ServerTable[2].address, "10.0.0.2");
  EXPECT_STREQ(ServerTable[2].localName, "two");
  EXPECT_EQ(ServerTable[2].pingGap, 200);
  EXPECT_EQ(ServerTable[2].pingWait, 1);
  EXPECT_EQ(ServerTable[2].autoMount, 0);
  EXPECT_EQ(NASRecord, 0);
  EXPECT_EQ(Timerdelay, 0);
  EXPECT_EQ(Initialdelay, 0);
  EXPECT_EQ(Silentmode, 0);
  EXPECT_EQ(logfile, 0);
  EXPECT_TRUE(Untouched(3));
}

// ---- texts ----

TEST_F(SettingsTest, TextsAreReadCutToTheirFieldOrEmptied)
{
  struct TextKey {
    const char *key;
    char *(*field)(int n);
    size_t capacity;
  };
  const TextKey kAddress = {"NAS IP-Address", [](int n) { return ServerTable[n].address; }, 20};
  const TextKey kMac = {"NAS MAC-Address", [](int n) { return ServerTable[n].mac; }, 20};
  const TextKey kName = {"Local Folder Name", [](int n) { return ServerTable[n].localName; }, 128};
  const TextKey kMedia = {"Remotefolder MediaFiles", [](int n) { return ServerTable[n].remoteFolder[RF_MEDIA]; }, 256};
  const TextKey kMp3 = {"Remotefolder MP3Files", [](int n) { return ServerTable[n].remoteFolder[RF_MP3]; }, 256};
  const TextKey kPhoto = {"Remotefolder PhotoFiles", [](int n) { return ServerTable[n].remoteFolder[RF_PHOTO]; }, 256};
  const TextKey kData = {"Remotefolder DataFiles", [](int n) { return ServerTable[n].remoteFolder[RF_DATA]; }, 256};
  const TextKey kOptions = {"Mountoptions", [](int n) { return ServerTable[n].mountOptions; }, 256};
  const size_t kMissing = static_cast<size_t>(-1);
  const struct {
    TextKey key;
    size_t length;  // of the value in the file; kMissing: no line
  } cases[] = {
    {kAddress, 11}, {kAddress, 19}, {kAddress, 20}, {kAddress, 30}, {kAddress, kMissing}, {kAddress, 0},
    {kMac, 17}, {kMac, 19}, {kMac, 25}, {kMac, kMissing},
    {kName, 9}, {kName, 127}, {kName, 128}, {kName, 5000}, {kName, kMissing},
    {kMedia, 21}, {kMedia, 255}, {kMedia, 256}, {kMedia, 1000}, {kMedia, kMissing},
    {kMp3, 255}, {kMp3, 300}, {kMp3, kMissing},
    {kPhoto, 255}, {kPhoto, 300}, {kPhoto, kMissing},
    {kData, 255}, {kData, 300}, {kData, kMissing},
    {kOptions, 34}, {kOptions, 255}, {kOptions, 70000}, {kOptions, kMissing},
  };
  for(int n : {1, 5, 9})
    for(const auto &c : cases)
    {
      SCOPED_TRACE(std::string(c.key.key) + " of " + std::to_string(c.length) + " bytes, server " + std::to_string(n));
      Restart();
      // The defaults a new main file would get must not leak into a record read from a file.
      SetServerDefaults();
      std::string value;
      for(size_t k = 0; c.length != kMissing && k < c.length; ++k) value += static_cast<char>('a' + k % 26);
      std::string text = "Ping Gap=77\r\n";
      if(c.length != kMissing) text += std::string(c.key.key) + "=" + value + "\r\n";
      std::string file = n == 1 ? "Brimvale.ini" : std::to_string(n) + ".ini";
      WriteFile(kApp + "/" + file, text);
      Scribble(n - 1);
      if(n < MAX_SERVERS) Scribble(n + 1);

      ASSERT_EQ(LoadINI(file.c_str(), n), 1);
      std::string expected = c.length == kMissing ? "" : value.substr(0, c.key.capacity - 1);
      EXPECT_EQ(std::string(c.key.field(n)), expected);
      EXPECT_EQ(ServerTable[n].pingGap, 77) << "the numbers after the texts are intact";
      // Every other text of the record is empty: the file has no line for it.
      for(const TextKey *other : {&kAddress, &kMac, &kName, &kMedia, &kMp3, &kPhoto, &kData, &kOptions})
        if(other->key != c.key.key) EXPECT_STREQ(other->field(n), "") << other->key;
      if(n > 1) EXPECT_TRUE(Untouched(n - 1));
      if(n < MAX_SERVERS) EXPECT_TRUE(Untouched(n + 1));
    }
}

// An editor's blank after a MAC or before a folder must not make the value
// unusable; a blank inside one is part of it.
TEST_F(SettingsTest, BlanksAndTabsAroundAValueAreDropped)
{
  WriteFile(kMain,
            "NAS IP-Address= 192.168.178.20\t\r\n"
            "NAS MAC-Address=00:11:32:aa:bb:cc \r\n"
            "Local Folder Name=  My NAS \r\n"
            "Remotefolder MediaFiles=\t/volume1/video\r\n"
            "Remotefolder MP3Files=   \r\n"
            "Mountoptions=-osoft,intr \r\n"
            "Logfile=1 \r\n");
  WriteFile(kApp + "/2.ini", "NAS MAC-Address=00-11-32-AA-BB-0C\r\n");
  ASSERT_EQ(LoadINI("Brimvale.ini", 1), 1);
  ASSERT_EQ(LoadINI("2.ini", 2), 1);
  EXPECT_STREQ(ServerTable[1].address, "192.168.178.20");
  EXPECT_STREQ(ServerTable[1].mac, "00:11:32:aa:bb:cc");
  EXPECT_STREQ(ServerTable[1].localName, "My NAS");
  EXPECT_STREQ(ServerTable[1].remoteFolder[RF_MEDIA], "/volume1/video");
  EXPECT_STREQ(ServerTable[1].remoteFolder[RF_MP3], "") << "only blanks: not configured";
  EXPECT_STREQ(ServerTable[1].mountOptions, "-osoft,intr");
  EXPECT_EQ(logfile, 1);
  EXPECT_STREQ(ServerTable[2].mac, "00:11:32:AA:BB:0C") << "ether-wake takes only the : form";
  EXPECT_NE(ReadFile(kMain).find("NAS MAC-Address=00:11:32:aa:bb:cc \r\n"), std::string::npos) << "the file stays";
}

// What ping, mount and ether-wake take as one address or MAC, and not as an
// option or a mistyped number.
TEST(SettingValues, AddressesAndMacsAreCheckedBeforeAnyCommand)
{
  const std::string long_label = std::string(63, 'a') + ".box";
  const std::string too_long_label = std::string(64, 'a') + ".box";
  std::string longest;  // 253 characters: labels of 63, 63, 63 and 61
  for(size_t label : {63, 63, 63, 61}) longest += (longest.empty() ? "" : ".") + std::string(label, 'n');
  const std::string too_long = longest + "x";
  const struct {
    std::string address;
    CommandStatus expected;
  } addresses[] = {
      {"192.168.178.20", COMMAND_READY}, {"10.0.0.1", COMMAND_READY}, {"255.255.255.255", COMMAND_READY},
      {"diskstation", COMMAND_READY}, {"nas-1.fritz.box", COMMAND_READY}, {"my-nas", COMMAND_READY},
      // Names home routers hand out: a leading digit, "_", one trailing dot.
      {"4bay", COMMAND_READY}, {"nas.1und1", COMMAND_READY}, {"my_nas", COMMAND_READY},
      {"nas.fritz.box.", COMMAND_READY}, {"nas.", COMMAND_READY}, {"nas-", COMMAND_READY},
      {"192.168.1.1O", COMMAND_READY},  // a name as far as the tools go; brimvale-sim check warns
      {long_label, COMMAND_READY}, {longest, COMMAND_READY},
      {"-oremount,ro", COMMAND_NOT_ADDRESS}, {"-c9", COMMAND_NOT_ADDRESS}, {"nas.-c9", COMMAND_NOT_ADDRESS},
      {"192.168.1.256", COMMAND_NOT_ADDRESS}, {"192.168.1.300", COMMAND_NOT_ADDRESS},
      {"192.168.001.20", COMMAND_NOT_ADDRESS}, {"192.168.001.020", COMMAND_NOT_ADDRESS},
      {"192.168.1", COMMAND_NOT_ADDRESS}, {"1.2.3.4.5", COMMAND_NOT_ADDRESS}, {"192.168.1.1.", COMMAND_NOT_ADDRESS},
      {"nas..box", COMMAND_NOT_ADDRESS}, {"nas..", COMMAND_NOT_ADDRESS}, {".nas", COMMAND_NOT_ADDRESS},
      {".", COMMAND_NOT_ADDRESS}, {"", COMMAND_NOT_ADDRESS}, {too_long_label, COMMAND_NOT_ADDRESS},
      {too_long, COMMAND_NOT_ADDRESS}, {"nas+1", COMMAND_NOT_ADDRESS},
      {"10.0.0.2 -c 9", COMMAND_UNSAFE}, {"a;reboot", COMMAND_UNSAFE},
  };
  for(const auto &c : addresses) EXPECT_EQ(CheckAddress(c.address.c_str()), c.expected) << c.address;

  const struct {
    const char *mac;
    CommandStatus expected;
  } macs[] = {
      {"00:11:32:aa:bb:cc", COMMAND_READY}, {"B8:27:EB:12:34:56", COMMAND_READY},
      {"-b", COMMAND_NOT_MAC}, {"00:11:22:33:44", COMMAND_NOT_MAC}, {"b827eb123456", COMMAND_NOT_MAC},
      {"00-11-32-aa-bb-cc", COMMAND_NOT_MAC}, {"00:11:32:aa:bb:cg", COMMAND_NOT_MAC},
      {"0:11:32:aa:bb:cc", COMMAND_NOT_MAC}, {"00:11:32:aa:bb:cc:dd", COMMAND_NOT_MAC},
      {"00:11:32:aa:bb:cc;x", COMMAND_UNSAFE},
  };
  for(const auto &c : macs) EXPECT_EQ(CheckMac(c.mac), c.expected) << c.mac;

  char dashed[] = "00-11-32-aa-bb-cc", mixed[] = "00-11:32-aa-bb-cc";
  EXPECT_EQ(NormaliseMac(dashed), 1);
  EXPECT_STREQ(dashed, "00:11:32:aa:bb:cc");
  EXPECT_EQ(NormaliseMac(mixed), 0);
  EXPECT_STREQ(mixed, "00-11:32-aa-bb-cc");
}

// ---- the boot-time rule ----

TEST_F(SettingsTest, WithNasRecordingEveryOtherServerBootsAfterServerOne)
{
  const char *kMissing = nullptr;
  const struct {
    int recording;
    const char *boot1, *boot2;
    int expected2;
  } cases[] = {
    {1, "30", "20", 31}, {1, "30", "45", 45}, {0, "30", "20", 20}, {1, "30", "30", 31}, {1, "30", "31", 31},
    {1, "600", "600", 601}, {1, "600", kMissing, 601}, {1, "0", "0", 1}, {1, kMissing, kMissing, 31},
    {1, "30", "-7", 31}, {0, "600", "900", 600},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.recording) + ": " + (c.boot1 ? c.boot1 : "-") + " / " + (c.boot2 ? c.boot2 : "-"));
    Restart();
    std::string main = "NAS Recording=" + std::to_string(c.recording) + "\r\n";
    if(c.boot1) main += std::string("NAS Boottime=") + c.boot1 + "\r\n";
    std::string second = c.boot2 ? std::string("NAS Boottime=") + c.boot2 + "\r\n" : "Automount=1\r\n";
    WriteFile(kMain, main);
    WriteFile(kApp + "/2.ini", second);
    WriteFile(kApp + "/3.ini", second);
    ASSERT_EQ(LoadINI("Brimvale.ini", 1), 1);
    ASSERT_EQ(LoadINI("2.ini", 2), 1);
    ASSERT_EQ(LoadINI("3.ini", 3), 1);
    EXPECT_EQ(ServerTable[2].bootTime, c.expected2);
    EXPECT_EQ(ServerTable[3].bootTime, c.expected2) << "measured against server 1, not the server before";
  }
}

// ---- a missing main file ----

TEST_F(SettingsTest, AMissingMainFileIsWrittenOnceAndTheUserToldToEditIt)
{
  const struct {
    int language;
    int logging;
    const char *shown;
  } cases[] = {
    {1, 0, "\"Brimvale.ini at ProgramFiles/Settings/Brimvale has to be edited!\""},
    {2, 0, "\"Brimvale.ini unter ProgramFiles/Settings/Brimvale muss bearbeitet werden!\""},
    {0, 1, "\"Brimvale.ini at ProgramFiles/Settings/Brimvale has to be edited!\""},
    {2, 1, "\"Brimvale.ini unter ProgramFiles/Settings/Brimvale muss bearbeitet werden!\""},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE("lang " + std::to_string(c.language) + ", logfile " + std::to_string(c.logging));
    Restart();
    lang = c.language;
    logfile = c.logging;  // as it would be were the log already switched on
    SetServerDefaults();
    Scribble(2);
    dword now = receiver->clock().tick();

    EXPECT_EQ(LoadINI("Brimvale.ini", 1), 0);
    // Logging is off at start-up; were it on, the new file would keep it on.
    EXPECT_EQ(ReadFile(kMain), kNewMainFile + std::string(c.logging ? "Logfile=1\r\n" : ""));
    EXPECT_EQ(Creates("Brimvale.ini"), 1u);
    EXPECT_EQ(BarTexts(), std::vector<std::string>{c.shown});
    EXPECT_EQ(debugtick, now + 1000);
    EXPECT_EQ(ReadFile(kApp + "/Logs/Brimvale.log"),
              c.logging ? "08.12.2026 12:00:00 -> Brimvale.ini at ProgramFiles/Settings/Brimvale has to be edited!\r\n"
                        : "");
    EXPECT_STREQ(ServerTable[1].address, "192.168.0.10") << "the record keeps what it held";
    EXPECT_EQ(Initialdelay, 30);
    EXPECT_TRUE(Untouched(2));
    EXPECT_FALSE(Exists(kPF + "/Brimvale.ini"));
    EXPECT_FALSE(Exists(kApp + "/Logs/Brimvale.ini"));

    // Read back: the written values, not the defaults of missing keys.
    Initialdelay = 0;
    logfile = 0;
    memset(&ServerTable[1], 0, sizeof(ServerRecord));
    EXPECT_EQ(LoadINI("Brimvale.ini", 1), 1);
    EXPECT_EQ(Initialdelay, 30);
    EXPECT_EQ(logfile, c.logging);
    EXPECT_STREQ(ServerTable[1].mac, "ff:ff:ff:ff:ff:ff");
    EXPECT_STREQ(ServerTable[1].remoteFolder[RF_PHOTO], "/mnt/Files/PhotoFiles");
    EXPECT_STREQ(ServerTable[1].mountOptions, "-osoft,intr,tcp,rsize=65535,nolock");
    EXPECT_EQ(ServerTable[1].pingWait, 3);
    EXPECT_EQ(Creates("Brimvale.ini"), 1u) << "written once only";
  }
}

TEST_F(SettingsTest, TheNewMainFileGoesToTheSettingsFolderWhateverFolderIsCurrent)
{
  for(const char *folder : {"/", "/ProgramFiles", "/ProgramFiles/Settings/Brimvale/Logs"})
  {
    SCOPED_TRACE(folder);
    Restart();
    SetServerDefaults();
    ASSERT_EQ(HDD_ChangeDir(folder), 1);
    EXPECT_EQ(LoadINI("Brimvale.ini", 1), 0);
    EXPECT_EQ(ReadFile(kMain), kNewMainFile);
    EXPECT_EQ(receiver->hdd().current(), folder);
  }
}

TEST_F(SettingsTest, SaveIniWritesTheLogfileKeyOnlyWhenLoggingIsOn)
{
  const struct {
    int logging;
    bool written;
  } cases[] = {{0, false}, {1, true}, {2, false}};
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.logging);
    Restart();
    SetServerDefaults();
    logfile = c.logging;
    Initialdelay = 45;
    NASRecord = 1;
    Silentmode = 1;
    SaveINI();
    std::string text = ReadFile(kMain);
    EXPECT_EQ(text.find("Logfile="), c.written ? text.size() - 11 : std::string::npos) << text;
    EXPECT_NE(text.find("\r\nMountDelay=45\r\nNAS Recording=1\r\nTimerdelay=0\r\nSilentMode=1\r\n"), std::string::npos);
  }
}

TEST_F(SettingsTest, SaveIniWritesAnExistingFileBackWhereItWasFound)
{
  WriteFile(kPF + "/Brimvale.ini", "; my notes\r\nPing Gap=99\r\nunrelated line\r\n");
  SetServerDefaults();
  ServerTable[1].pingGap = 120;
  SaveINI();
  std::string text = ReadFile(kPF + "/Brimvale.ini");
  EXPECT_EQ(text.rfind("; my notes\r\nPing Gap=120\r\nunrelated line\r\nNAS IP-Address=192.168.0.10\r\n", 0), 0u) << text;
  EXPECT_FALSE(Exists(kMain));
}

TEST_F(SettingsTest, AMissingServerFileWritesNoMainFile)
{
  Scribble(4);
  EXPECT_EQ(LoadINI("4.ini", 4), 0);
  EXPECT_TRUE(Untouched(4));
  EXPECT_FALSE(Exists(kMain));
  EXPECT_TRUE(BarTexts().empty());
}

TEST_F(SettingsTest, ServerNumbersOutsideTheTableReadNothing)
{
  WriteFile(kMain, "NAS IP-Address=10.0.0.9\r\n");
  for(int n : {0, 10, -1, 1000})
  {
    SCOPED_TRACE(n);
    for(int k = 0; k < SERVER_TABLE_SIZE; ++k) Scribble(k);
    EXPECT_EQ(LoadINI("Brimvale.ini", n), 0);
    for(int k = 0; k < SERVER_TABLE_SIZE; ++k) EXPECT_TRUE(Untouched(k)) << k;
  }
}

// ---- bad files ----

// A literal's bytes, zero bytes included.
template <size_t N>
std::string Bytes(const char (&text)[N])
{
  return std::string(text, N - 1);
}

TEST_F(SettingsTest, BadFilesGiveDefaultsAndNeverOverrunAField)
{
  const std::string kJunkLines = [] {
    std::string s;
    for(int k = 0; k < 40000; ++k) s += "junk line number " + std::to_string(k) + "\r\n";
    return s;
  }();
  const struct {
    const char *name;
    std::string content;
    std::string address, localName;
    int bootTime, pingGap, autoMount;
  } cases[] = {
    {"empty", "", "", "", 30, 30, 1},
    {"only line ends", "\r\n\r\n\n\r", "", "", 30, 30, 1},
    {"binary", Bytes("\x7f" "ELF\x01\x01\x01\0\0\0\xff\xfe=\x02\x03\x80\x90=\xa0\r\x1f"), "", "", 30, 30, 1},
    {"text after a zero byte is not read",
     Bytes("NAS IP-Address=10.0.0.1\r\n\0Ping Gap=99\r\nLocal Folder Name=hidden\r\n"), "10.0.0.1", "", 30, 30, 1},
    {"huge, the key at the end", kJunkLines + "Ping Gap=120\r\nLocal Folder Name=far\r\n", "", "far", 30, 120, 1},
    {"one huge value", "Local Folder Name=" + std::string(3000000, 'n') + "\r\nPing Gap=55\r\n", "",
     std::string(127, 'n'), 30, 55, 1},
    {"no line end at all", "NAS IP-Address=10.0.0.1", "10.0.0.1", "", 30, 30, 1},
    {"carriage returns only", "NAS IP-Address=10.0.0.3\rPing Gap=40\rLocal Folder Name=cr\r", "10.0.0.3", "cr", 30,
     40, 1},
    {"line feeds only", "NAS IP-Address=10.0.0.4\nPing Gap=41\nLocal Folder Name=lf\n", "10.0.0.4", "lf", 30, 41, 1},
    {"entries run together", "Ping Gap=45Automount=0", "", "", 30, 30, 0},
    {"duplicate keys: the first counts", "Ping Gap=50\r\nPing Gap=60\r\nLocal Folder Name=a\r\nLocal Folder Name=b\r\n",
     "", "a", 30, 50, 1},
    {"comment marks", "#Ping Gap=100\r\n;Local Folder Name=x\r\nPing Gap=200\r\n# NAS Boottime=77\r\n", "", "", 77,
     200, 1},
    {"other letter case", "nas ip-address=10.0.0.5\r\nPING GAP=70\r\nlocal folder NAME=Case\r\n", "10.0.0.5", "Case", 30,
     70, 1},
    {"spaces around the mark", "Ping Gap = 70\r\nLocal Folder Name =x\r\n NAS Boottime=12\r\n", "", "", 12, 30, 1},
    {"empty values", "NAS IP-Address=\r\nPing Gap=\r\nAutomount=\r\n", "", "", 30, 30, 1},
    {"an address far too long", "NAS IP-Address=" + std::string(500, '7') + "\r\n", std::string(19, '7'), "", 30, 30,
     1},
    {"key without a value mark", "NAS IP-Address 10.0.0.6\r\nPing Gap\r\n", "", "", 30, 30, 1},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.name);
    Restart();
    SetServerDefaults();
    Scribble(2);
    WriteFile(kMain, c.content);
    ASSERT_EQ(LoadINI("Brimvale.ini", 1), 1);
    EXPECT_EQ(ServerTable[1].address, c.address);
    EXPECT_EQ(ServerTable[1].localName, c.localName);
    EXPECT_EQ(ServerTable[1].bootTime, c.bootTime);
    EXPECT_EQ(ServerTable[1].pingGap, c.pingGap);
    EXPECT_EQ(ServerTable[1].autoMount, c.autoMount);
    EXPECT_EQ(ServerTable[1].pingWait, 3);
    EXPECT_EQ(Initialdelay, 0);
    EXPECT_TRUE(Untouched(2));
    EXPECT_EQ(ReadFile(kMain), c.content) << "a file that exists is never rewritten";
    EXPECT_EQ(receiver->live_allocations(), 0u);
  }
}

TEST_F(SettingsTest, AFileThatCannotBeReadCountsAsOneWithoutKeys)
{
  const struct {
    const char *name;
    bool folder;        // a folder where the file should be
    bool noMemory;      // every allocation fails
  } cases[] = {
    {"a folder named like the file", true, false},
    {"no memory for the text", false, true},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.name);
    config.fail_all_allocations = c.noMemory;
    Restart();
    if(c.folder)
      MakeDir(kMain);
    else
      WriteFile(kMain, "NAS IP-Address=10.0.0.1\r\nPing Gap=99\r\nLogfile=1\r\n");
    SetServerDefaults();
    NASRecord = 1;
    EXPECT_EQ(LoadINI("Brimvale.ini", 1), 1);
    EXPECT_STREQ(ServerTable[1].address, "");
    EXPECT_STREQ(ServerTable[1].mac, "");
    EXPECT_EQ(ServerTable[1].pingGap, 30);
    EXPECT_EQ(NASRecord, 0);
    EXPECT_EQ(logfile, 0);
    EXPECT_EQ(Creates("Brimvale.ini"), 0u) << "an unreadable file is not replaced";
    EXPECT_TRUE(BarTexts().empty());
  }
}

}  // namespace
