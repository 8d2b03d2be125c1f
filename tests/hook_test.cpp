// The event-handler hook, driven as the firmware drives it: events go through
// the plug-in's row of the emulated task table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/firmware/firmware.h"
#include "lib/hook/hook.h"
#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

namespace {

const std::string kDat = "/mnt/hd/ProgramFiles/FirmwareTMS.dat";

struct Seen {
  int calls = 0;
  dword event = 0, param1 = 0, param2 = 0;
} g_seen;
dword g_result;

dword TestHandler(dword event, dword param1, dword param2)
{
  ++g_seen.calls;
  g_seen.event = event;
  g_seen.param1 = param1;
  g_seen.param2 = param2;
  return g_result;
}

dword OtherHandler(dword, dword, dword) { return 0; }

FirmwareWord Address(TAP_EventHandlerFn handler) { return reinterpret_cast<FirmwareWord>(handler); }

class HookTest : public SimTest {
 protected:
  void SetUp() override
  {
    g_seen = Seen();
    g_result = 0x5A5A;
  }

  // A receiver with a plug-in loaded (so events are delivered) whose task
  // row holds TestHandler, as the firmware set it.
  sim::Receiver &Start(const std::string &dat = "")
  {
    if(!dat.empty()) WriteFile(kDat, dat);
    LoadTap();
    Boot();
    receiver->task_row()[TAP_TASK_HANDLER_WORD] = Address(TestHandler);
    return *receiver;
  }
  FirmwareWord Entry() const { return receiver->task_row()[TAP_TASK_HANDLER_WORD]; }
};

TEST_F(HookTest, AKeyOfAListedModelsRemoteArrivesTranslated)
{
  sim::Receiver &r = Start(sim::FirmwareDat{{2012, 5, 1}, {{22010, ST_TMST, 2}}}.Bytes());
  ASSERT_EQ(KeyTranslate(1, TestHandler), 1);
  EXPECT_EQ(Entry(), Address(KeyTranslateHook));
  EXPECT_EQ(r.Event(EVT_KEY, 0x10024, 9), 0x10024u) << "the firmware goes on with the key pressed";
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.event, static_cast<dword>(EVT_KEY));
  EXPECT_EQ(g_seen.param1, 0x10048u);
  EXPECT_EQ(g_seen.param2, 9u);
}

struct KeyCase {
  int remote;
  dword pressed, seen;
};

const KeyCase kKeyCases[] = {
  // Remote type 2: every row of its table, and keys it leaves alone.
  {2, 0x10024, 0x10048}, {2, 0x10025, 0x10045}, {2, 0x10026, 0x10046}, {2, 0x1003E, 0x10049},
  {2, 0x1003F, 0x10047}, {2, 0x10045, 0x10044}, {2, 0x10047, 0x1003F}, {2, 0x10048, 0x10024},
  {2, 0x10049, 0x10025}, {2, 0x1004A, 0x10026},
  {2, 0x10023, 0x10023}, {2, 0x10044, 0x10044}, {2, 0x10046, 0x10046}, {2, 0x1004B, 0x1004B},
  {2, 0x00024, 0x00024},            // bit 16 belongs to the key code
  {2, 0x30024, 0x30048},            // bit 17 does not
  {2, 0x20010048, 0x20010024},      // the bits above pass through
  {2, 0xFFFE004A | 0x10000, 0xFFFE0000 | 0x10026},
  // Remote type 3: one key.
  {3, 0x10023, 0x1003F}, {3, 0x10024, 0x10024}, {3, 0x1003F, 0x1003F}, {3, 0x20023, 0x20023},
  {3, 0x40010023, 0x4001003F},
  // Every other remote type changes nothing.
  {1, 0x10024, 0x10024}, {1, 0x10023, 0x10023}, {0, 0x10024, 0x10024}, {4, 0x10023, 0x10023},
  {-2, 0x10048, 0x10048},
};

TEST_F(HookTest, KeysAreTranslatedByTheTableOfTheRemoteType)
{
  sim::Receiver &r = Start();
  ASSERT_EQ(KeyTranslate(1, TestHandler), 1);
  for(const KeyCase &c : kKeyCases)
  {
    RemoteType = c.remote;
    EXPECT_EQ(r.Event(EVT_KEY, c.pressed, 0), c.pressed) << std::hex << c.remote << " " << c.pressed;
    EXPECT_EQ(g_seen.param1, c.seen) << std::hex << c.remote << " " << c.pressed;
  }
  EXPECT_EQ(g_seen.calls, static_cast<int>(std::size(kKeyCases)));
}

TEST_F(HookTest, TheHandlersVerdictOnAKeyDecidesWhetherTheFirmwareSeesIt)
{
  const struct {
    dword handler_result, expected;
  } cases[] = {{0, 0}, {1, 0x10024}, {0x10048, 0x10024}, {0x10024, 0x10024}, {0xFFFFFFFF, 0x10024}};
  sim::Receiver &r = Start();
  ASSERT_EQ(KeyTranslate(1, TestHandler), 1);
  RemoteType = 2;
  for(const auto &c : cases)
  {
    g_result = c.handler_result;
    EXPECT_EQ(r.Event(EVT_KEY, 0x10024, 0), c.expected) << std::hex << c.handler_result;
  }
}

TEST_F(HookTest, OtherEventsPassWithTheirResultAndTheirBitsAbove15Cleared)
{
  const struct {
    dword event, param1, seen_event, seen_param1;
  } cases[] = {
    {EVT_IDLE, 0, EVT_IDLE, 0},
    {EVT_IDLE, 0x10024, EVT_IDLE, 0x10024},  // no key event: nothing translated
    {EVT_STOP, 0x10024, EVT_STOP, 0x10024},
    {0xABCD0000 | EVT_IDLE, 5, EVT_IDLE, 5},
    {0x00010000 | EVT_STOP, 5, EVT_STOP, 5},
    {0x12340000 | EVT_KEY, 0x10024, EVT_KEY, 0x10048},  // still a key event
  };
  sim::Receiver &r = Start();
  ASSERT_EQ(KeyTranslate(1, TestHandler), 1);
  RemoteType = 2;
  for(const auto &c : cases)
    for(dword result : {0u, 0x5A5Au})
    {
      g_result = result;
      dword returned = r.Event(c.event, c.param1, 3);
      EXPECT_EQ(g_seen.event, c.seen_event) << std::hex << c.event;
      EXPECT_EQ(g_seen.param1, c.seen_param1) << std::hex << c.event;
      EXPECT_EQ(g_seen.param2, 3u);
      if(c.seen_event != EVT_KEY) EXPECT_EQ(returned, result) << std::hex << c.event;
    }
}

TEST_F(HookTest, InstallingAndRemovingChangeTheEntryOnlyFromTheRightState)
{
  const FirmwareWord kHandler = Address(TestHandler), kHook = Address(KeyTranslateHook);
  const struct {
    int install;
    TAP_EventHandlerFn handler;
    int expected;
    FirmwareWord entry;
  } steps[] = {
    {0, TestHandler, 0, kHandler},   // nothing to remove
    {1, OtherHandler, 0, kHandler},  // not the handler the firmware calls
    {1, nullptr, 0, kHandler},
    {1, TestHandler, 1, kHook},
    {1, TestHandler, 0, kHook},      // a second install would forward to itself
    {0, OtherHandler, 1, kHandler},  // the handler is not compared on removal
    {0, TestHandler, 0, kHandler},
    {1, TestHandler, 1, kHook},      // and in again
  };
  sim::Receiver &r = Start();
  int calls = 0;
  for(size_t n = 0; n < std::size(steps); ++n)
  {
    EXPECT_EQ(KeyTranslate(steps[n].install, steps[n].handler), steps[n].expected) << "step " << n;
    EXPECT_EQ(Entry(), steps[n].entry) << "step " << n;
    // Every event reaches the plug-in's handler exactly once.
    EXPECT_EQ(r.Event(EVT_STOP, 0, 0), g_result) << "step " << n;
    EXPECT_EQ(g_seen.calls, ++calls) << "step " << n;
  }
}

TEST_F(HookTest, WithoutAHookInPlaceTheHookPassesKeysOn)
{
  Boot();
  EXPECT_EQ(KeyTranslateHook(EVT_KEY, 0x10024, 0), 0x10024u);
  EXPECT_EQ(g_seen.calls, 0);
}

class HookTaskTable : public HookTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HookTaskTable, MissingFirmwareObjectsMeanNoHook)
{
  // Either the table or our index in it is missing.
  config.firmware.tap_table = GetParam();
  config.firmware.cur_tap_task = !GetParam();
  Boot();
  EXPECT_EQ(KeyTranslate(1, TestHandler), 0);
  EXPECT_EQ(KeyTranslate(0, TestHandler), 0);
}

INSTANTIATE_TEST_SUITE_P(Hook, HookTaskTable, ::testing::Bool(),
                         [](const auto &info) { return std::string(info.param ? "NoIndex" : "NoTable"); });

struct RemoteCase {
  const char *name;
  bool file_valid;
  std::vector<sim::FirmwareDatReceiver> receivers;  // empty: no file
  int system_id;
  int before;  // RemoteType before the call (0: left as it starts)
  int expected;
  bool tap_table;
};

const RemoteCase kRemoteCases[] = {
  {"Listed", true, {{22010, ST_TMST, 2}}, 22010, 0, 2, true},
  {"LaterRecordOfTheModel", true, {{31001, ST_TMSS, 2}, {22010, ST_TMST, 3}}, 22010, 0, 3, true},
  {"FirstRecordDecides", true, {{22010, ST_TMST, 3}, {22010, ST_TMST, 2}}, 22010, 0, 3, true},
  {"ListedAsDefault", true, {{22010, ST_TMST, 1}}, 22010, 3, 1, true},
  {"NotListed", true, {{22011, ST_TMST, 2}}, 22010, 0, 1, true},
  {"NotListedKeepsEarlierValue", true, {{22011, ST_TMST, 2}}, 22010, 3, 3, true},
  {"NoFile", true, {}, 22010, 0, 1, true},
  {"InvalidFile", false, {{22010, ST_TMST, 2}}, 22010, 0, 1, true},
  {"WholeIdCompared", true, {{22010, ST_TMST, 2}}, 22010 + 0x10000, 0, 1, true},
  {"ReadEvenWithoutATaskTable", true, {{22010, ST_TMST, 3}}, 22010, 0, 3, false},
};

void PrintTo(const RemoteCase &c, std::ostream *os) { *os << c.name; }

class HookRemoteType : public HookTest, public ::testing::WithParamInterface<RemoteCase> {};

TEST_P(HookRemoteType, ComesFromTheReceiversRecordOrStaysAsItWas)
{
  const RemoteCase &c = GetParam();
  config.system_id = c.system_id;
  config.firmware.tap_table = c.tap_table;
  if(!c.receivers.empty())
  {
    sim::FirmwareDat dat{{2012, 5, 1}, c.receivers};
    dat.reserved = c.file_valid ? 0 : 1;
    WriteFile(kDat, dat.Bytes());
  }
  Boot();
  EXPECT_EQ(RemoteType, REMOTE_TYPE_DEFAULT);
  if(c.before != 0) RemoteType = c.before;
  EXPECT_EQ(KeyTranslate(1, TestHandler), 0) << "the row does not hold TestHandler";
  EXPECT_EQ(RemoteType, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Hook, HookRemoteType, ::testing::ValuesIn(kRemoteCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
