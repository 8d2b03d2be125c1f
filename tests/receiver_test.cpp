// The stand-in receiver loading and driving the shipped plug-in.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace {

// An event handler a test puts into the plug-in's task row, the way a hook does.
struct Seen {
  int calls = 0;
  dword event = 0, param1 = 0, param2 = 0;
  bool exit_on_call = false;
} g_seen;

dword RecordingHandler(dword event, dword param1, dword param2)
{
  ++g_seen.calls;
  g_seen.event = event;
  g_seen.param1 = param1;
  g_seen.param2 = param2;
  if(g_seen.exit_on_call) TAP_Exit();
  return 0x5A5A;
}

class ReceiverTest : public SimTest {
 protected:
  void SetUp() override { g_seen = Seen(); }
};

TEST_F(ReceiverTest, StartsThePluginAndPlacesItsHandlerInItsTaskRow)
{
  sim::Receiver &r = LoadTap();
  ASSERT_TRUE(r.loaded());
  EXPECT_EQ(r.Start(), 1);
  FirmwareWord *row = r.task_row();
  ASSERT_NE(row, nullptr);
  EXPECT_NE(row[TAP_TASK_HANDLER_WORD], 0u);
  // The key passes on unchanged.
  EXPECT_EQ(r.Key(0x10024), 0x10024u);
}

TEST_F(ReceiverTest, EventsGoThroughWhateverTheTaskRowHolds)
{
  sim::Receiver &r = LoadTap();
  r.Start();
  FirmwareWord *row = r.task_row();
  row[TAP_TASK_HANDLER_WORD] = reinterpret_cast<FirmwareWord>(&RecordingHandler);
  EXPECT_EQ(r.Event(EVT_KEY, 0x20010048, 7), 0x5A5Au);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.event, static_cast<dword>(EVT_KEY));
  EXPECT_EQ(g_seen.param1, 0x20010048u);
  EXPECT_EQ(g_seen.param2, 7u);
  r.Idle();
  EXPECT_EQ(g_seen.calls, 2);
  EXPECT_EQ(g_seen.event, static_cast<dword>(EVT_IDLE));
}

TEST_F(ReceiverTest, WithoutATaskTableTheFirmwareCallsTheHandlerItWasGiven)
{
  config.firmware.tap_table = false;
  sim::Receiver &r = LoadTap();
  r.Start();
  EXPECT_EQ(r.task_row(), nullptr);
  EXPECT_EQ(r.Key(0x1003F), 0x1003Fu);
}

TEST_F(ReceiverTest, ExitEndsThePluginAfterTheCurrentCall)
{
  sim::Receiver &r = LoadTap();
  r.Start();
  r.task_row()[TAP_TASK_HANDLER_WORD] = reinterpret_cast<FirmwareWord>(&RecordingHandler);
  g_seen.exit_on_call = true;
  r.RunIdle(1000, 10);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_TRUE(r.ended());
  EXPECT_TRUE(r.exit_called());
  r.Stop();
  EXPECT_EQ(g_seen.calls, 1) << "no stop event after the plug-in has ended";
}

TEST_F(ReceiverTest, RunIdleLetsVirtualTimePass)
{
  sim::Receiver &r = LoadTap();
  r.Start();
  uint32_t tick = r.clock().tick();
  r.task_row()[TAP_TASK_HANDLER_WORD] = reinterpret_cast<FirmwareWord>(&RecordingHandler);
  r.RunIdle(6000, 10);
  EXPECT_EQ(r.clock().tick() - tick, 6000u);
  EXPECT_EQ(g_seen.calls, 600);
}

TEST_F(ReceiverTest, EachReceiverGetsAFreshPlugin)
{
  // Statics of the plug-in must not outlive its receiver: the .tap is really
  // unloaded (no unique symbols keep it in memory).
  for(int round = 0; round < 2; ++round)
  {
    receiver.reset();
    sim::Receiver &r = LoadTap();
    r.Start();
    EXPECT_EQ(r.Key(0x10024), 0x10024u);
  }
}

TEST_F(ReceiverTest, RefusesAFileThatIsNoPlugin)
{
  receiver = std::make_unique<sim::Receiver>(config);
  std::string error;
  WriteFile("/junk.tap", "not an ELF file");
  EXPECT_FALSE(receiver->Load(HostPath("/junk.tap"), &error));
  EXPECT_NE(error.find("cannot load"), std::string::npos);
}

TEST_F(ReceiverTest, AllocationFailuresCanBeInjected)
{
  config.fail_allocation = 2;
  sim::Receiver &r = Boot();
  void *first = TAP_MemAlloc(16);
  void *second = TAP_MemAlloc(16);
  void *third = TAP_MemAlloc(16);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(r.live_allocations(), 2u);
  EXPECT_EQ(TAP_MemFree(first), 1);
  EXPECT_EQ(TAP_MemFree(first), 0) << "a double free is caught, not passed on";
  TAP_MemFree(third);
  EXPECT_EQ(r.live_allocations(), 0u);
}

TEST_F(ReceiverTest, SystemVariablesTakeEffectWhenWritten)
{
  config.language = 2;
  sim::Receiver &r = Boot();
  EXPECT_EQ(TAP_GetSystemVar(SYSVAR_LANGUAGE), 2);
  TAP_SetSystemVar(SYSVAR_TIMESHIFT, 1);
  EXPECT_EQ(r.system_var(SYSVAR_TIMESHIFT), 1);
  EXPECT_EQ(r.written_system_var(SYSVAR_TIMESHIFT), 0);
  TAP_WriteSystemVar();
  EXPECT_EQ(r.written_system_var(SYSVAR_TIMESHIFT), 1);
}

// A long run keeps only what its outputs read; whoever watches sees what it
// asked for, and a kind nobody wants is not even written.
TEST(TraceTest, KeepsOnlyTheKindsAskedForAndShowsAllToItsListener)
{
  sim::Trace trace;
  EXPECT_TRUE(trace.Wants(sim::TraceKind::kDisk));
  trace.KeepOnly({sim::TraceKind::kShell});
  EXPECT_FALSE(trace.Wants(sim::TraceKind::kDisk));
  EXPECT_TRUE(trace.Wants(sim::TraceKind::kShell));
  trace.Add(1, sim::TraceKind::kDisk, "TAP_Hdd_Exist(\"a\") -> 0");
  trace.Add(2, sim::TraceKind::kShell, "\"ps\" -> 0");
  ASSERT_EQ(trace.entries().size(), 1u);
  EXPECT_EQ(trace.entries()[0].tick, 2u);

  std::vector<std::string> seen;
  trace.SetListener([&seen](const sim::TraceEntry &e) { seen.push_back(e.text); });
  EXPECT_TRUE(trace.Wants(sim::TraceKind::kDisk));
  trace.Add(3, sim::TraceKind::kDisk, "lstat64(\"/\") -> 0");
  trace.Add(4, sim::TraceKind::kShell, "\"ps\" -> 0");
  EXPECT_EQ(seen, (std::vector<std::string>{"lstat64(\"/\") -> 0", "\"ps\" -> 0"}));
  EXPECT_EQ(trace.entries().size(), 2u);

  // A listener that asks for some kinds only: the others are not written.
  trace.ListenOnly({sim::TraceKind::kOsd});
  EXPECT_FALSE(trace.Wants(sim::TraceKind::kDisk));
  EXPECT_TRUE(trace.Wants(sim::TraceKind::kOsd));
  trace.Add(5, sim::TraceKind::kDisk, "lstat64(\"/\") -> 0");
  trace.Add(6, sim::TraceKind::kShell, "\"kill 1\" -> 0");
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(trace.entries().size(), 3u) << "what is kept is kept all the same";
}

}  // namespace
