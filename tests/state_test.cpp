// The application state: what every item holds when the plug-in is loaded,
// the capacities callers rely on, and the server-table defaults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/Brimvale.h"
#include "sim_fixture.h"

namespace {

bool AllZero(const void *data, size_t size)
{
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  for(size_t k = 0; k < size; ++k)
    if(bytes[k] != 0) return false;
  return true;
}

// Needs a process of its own, as ctest gives every test: another test run
// before it in the same process would have changed the state.
TEST(StateAtLoad, EveryItemHoldsItsInitialValue)
{
  const struct {
    const char *name;
    long long value, expected;
  } cases[] = {
    {"Initialdelay", Initialdelay, 30}, {"imgoffset", imgoffset, 500}, {"lang", lang, 0},
    {"TotalNAS", TotalNAS, 0}, {"tapexit", tapexit, 0}, {"Delay", Delay, 0}, {"mounttick", mounttick, 0},
    {"NASRecord", NASRecord, 0}, {"Timerdelay", Timerdelay, 0}, {"Silentmode", Silentmode, 0},
    {"logfile", logfile, 0}, {"pid", pid, 0}, {"pnum", pnum, 0}, {"networktick", networktick, 0},
    {"wakeuptick", wakeuptick, 0}, {"isMounting", isMounting, 0}, {"isRec", isRec, 0},
    {"timeshift", timeshift, 0}, {"timeshiftstorage", timeshiftstorage, 0}, {"debugtick", debugtick, 0},
    {"showmounttick", showmounttick, 0}, {"mountinfo", mountinfo, 0}, {"LastTry", LastTry, 0},
    {"inforegion", inforegion, 0}, {"mountregion", mountregion, 0},
  };
  for(const auto &c : cases) EXPECT_EQ(c.value, c.expected) << c.name;
  EXPECT_TRUE(AllZero(ServerTable, sizeof(ServerTable)));
  EXPECT_TRUE(AllZero(LogBuffer, sizeof(LogBuffer)));
  EXPECT_TRUE(AllZero(sysdo, sizeof(sysdo)));
  EXPECT_TRUE(AllZero(ininum, sizeof(ininum)));
  EXPECT_TRUE(AllZero(DFLocal, sizeof(DFLocal)));
}

TEST(StateLayout, BuffersAndFieldsHaveTheirCapacities)
{
  const ServerRecord r{};
  const struct {
    const char *name;
    size_t size, expected;
  } cases[] = {
    {"server records", sizeof(ServerTable) / sizeof(ServerTable[0]), 10},
    {"address", sizeof(r.address), 20},
    {"mac", sizeof(r.mac), 20},
    {"localName", sizeof(r.localName), 128},
    {"remote folders", sizeof(r.remoteFolder) / sizeof(r.remoteFolder[0]), 4},
    {"remoteFolder", sizeof(r.remoteFolder[0]), 256},
    {"mountOptions", sizeof(r.mountOptions), 256},
    {"LogBuffer", sizeof(LogBuffer), 256},
    {"sysdo", sizeof(sysdo), 512},
    {"ininum", sizeof(ininum), 10},
    {"DFLocal", sizeof(DFLocal), 128},
    // 32-bit numbers and ticks, 16-bit regions and timeshift values.
    {"bootTime", sizeof(r.bootTime), 4},
    {"mountDueTick", sizeof(r.mountDueTick), 4},
    {"nextProbeTick", sizeof(r.nextProbeTick), 4},
    {"mounttick", sizeof(mounttick), 4},
    {"inforegion", sizeof(inforegion), 2},
    {"timeshift", sizeof(timeshift), 2},
  };
  for(const auto &c : cases) EXPECT_EQ(c.size, c.expected) << c.name;
  // The remote folders stand in the order of the receiver folders they are mounted into.
  EXPECT_EQ(RF_MEDIA, 0);
  EXPECT_EQ(RF_MP3, 1);
  EXPECT_EQ(RF_PHOTO, 2);
  EXPECT_EQ(RF_DATA, 3);
}

class StateTest : public SimTest {
 protected:
  void SetUp() override
  {
    Boot();
    // Something in every field, to see what the defaults change and what they leave.
    memset(ServerTable, 0x5A, sizeof(ServerTable));
    for(ServerRecord &s : ServerTable) s.address[sizeof(s.address) - 1] = s.mac[sizeof(s.mac) - 1] = '\0';
  }
};

TEST_F(StateTest, DefaultsFillRecordOneAndTheProbeAndClearEveryRunTimeField)
{
  SetServerDefaults();
  const ServerRecord &one = ServerTable[1];
  const struct {
    const char *name;
    std::string value, expected;
  } texts[] = {
    {"mac", one.mac, "ff:ff:ff:ff:ff:ff"},
    {"localName", one.localName, "NAS-Share"},
    {"MediaFiles", one.remoteFolder[RF_MEDIA], "/mnt/Files/MediaFiles"},
    {"MP3Files", one.remoteFolder[RF_MP3], "/mnt/Files/MP3Files"},
    {"PhotoFiles", one.remoteFolder[RF_PHOTO], "/mnt/Files/PhotoFiles"},
    {"DataFiles", one.remoteFolder[RF_DATA], "/mnt/Files/DataFiles"},
    {"mountOptions", one.mountOptions, "-osoft,intr,tcp,rsize=65535,nolock"},
  };
  for(const auto &t : texts) EXPECT_EQ(t.value, t.expected) << t.name;
  const struct {
    const char *name;
    long long value, expected;
  } numbers[] = {
    {"bootTime", one.bootTime, 30}, {"autoMount", one.autoMount, 1}, {"pingWait", one.pingWait, 3},
    {"pingGap", one.pingGap, 30}, {"probe autoMount", ServerTable[0].autoMount, 1},
    {"probe pingWait", ServerTable[0].pingWait, 1},
  };
  for(const auto &n : numbers) EXPECT_EQ(n.value, n.expected) << n.name;

  // A private LAN address for server 1, and one for the probe that is not.
  unsigned a = 0, b = 0, c = 0, d = 0;
  ASSERT_EQ(sscanf(one.address, "%u.%u.%u.%u", &a, &b, &c, &d), 4) << one.address;
  EXPECT_TRUE(a == 10 || (a == 192 && b == 168) || (a == 172 && b >= 16 && b < 32)) << one.address;
  ASSERT_EQ(sscanf(ServerTable[0].address, "%u.%u.%u.%u", &a, &b, &c, &d), 4) << ServerTable[0].address;
  EXPECT_FALSE(a == 10 || a == 127 || (a == 192 && b == 168) || (a == 172 && b >= 16 && b < 32)) << ServerTable[0].address;

  for(int n = 1; n <= MAX_SERVERS; ++n)
  {
    SCOPED_TRACE(n);
    EXPECT_EQ(ServerTable[n].mountDueTick, 0u);
    EXPECT_EQ(ServerTable[n].tries, 0);
    EXPECT_EQ(ServerTable[n].nextProbeTick, 0u);
    EXPECT_EQ(ServerTable[n].mounted, 0);
  }
  // Servers 2 to 9 keep their settings: only their files fill them.
  ServerRecord pattern;
  memset(&pattern, 0x5A, sizeof(pattern));
  for(int n = 2; n <= MAX_SERVERS; ++n)
  {
    EXPECT_EQ(ServerTable[n].bootTime, pattern.bootTime) << n;
    EXPECT_EQ(memcmp(ServerTable[n].localName, pattern.localName, sizeof(pattern.localName)), 0) << n;
  }
}

}  // namespace
