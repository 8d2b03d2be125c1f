// The emulator's timer table against the plug-in's codec: what the emulator
// writes in each receiver's layout, the codec reads; what the codec writes
// back, the emulator reads, with the firmware's own fields intact.
#include <gtest/gtest.h>

#include <cstring>

#include "lib/timers/timers.h"
#include "sim/firmware/firmware_dat.h"
#include "sim/firmware/timer_table.h"
#include "sim_fixture.h"

namespace {

TEST(TimerLayout, BySystemTypeAndWorkAreaDistance)
{
  const struct {
    uint32_t system_type;
    int distance;
    bool known;
    const char *name;
    size_t size;
  } cases[] = {
    {5, 200, true, "ST_TMSS", 200},     {5, 208, true, "ST_TMSS", 200},  {6, 200, true, "ST_TMST200", 200},
    {6, 208, true, "ST_TMST", 208},     {6, 0, true, "ST_TMST", 208},    {7, 208, true, "ST_TMSC", 196},
    {0, 200, false, "", 0},             {4, 200, false, "", 0},          {8, 200, false, "", 0},
  };
  for(const auto &c : cases)
  {
    sim::TimerSlotLayout layout;
    EXPECT_EQ(sim::TimerLayoutFor(c.system_type, c.distance, &layout), c.known) << c.system_type;
    if(!c.known) continue;
    EXPECT_EQ(layout.name, c.name) << c.system_type << "/" << c.distance;
    EXPECT_EQ(layout.size, c.size) << c.system_type << "/" << c.distance;
  }
}

TEST(TimerSlot, KnownFieldsSitWhereTheFirmwareKeepsThem)
{
  sim::TimerSlotLayout layout{"ST_TMSC", 196};
  sim::FirmwareTimer t;
  t.start = sim::PackTimerStart(sim::MjdFromDate(2026, 12, 8), 20, 5);
  t.duration = 0x1234;
  t.record = 1;
  t.name = "Tatort";
  uint8_t slot[sim::kTimerSlotMaxSize];
  std::memset(slot, 0xEE, sizeof(slot));
  sim::EncodeTimerSlot(t, 3, layout, slot);
  EXPECT_EQ(slot[6], 0x34);
  EXPECT_EQ(slot[7], 0x12);
  EXPECT_EQ(std::memcmp(slot + 9, "Tatort\0\0", 8), 0);
  EXPECT_EQ(slot[139], 0) << "terminator";
  uint32_t mjd = static_cast<uint32_t>(sim::MjdFromDate(2026, 12, 8));
  const uint8_t start[] = {5, 20, static_cast<uint8_t>(mjd), static_cast<uint8_t>(mjd >> 8)};
  EXPECT_EQ(std::memcmp(slot + 140, start, 4), 0);
  EXPECT_EQ(slot[150], 1);
  EXPECT_EQ(slot[196], 0xEE) << "nothing written past the slot";
  for(size_t offset : {0u, 1u, 5u, 8u, 144u, 149u, 151u, 195u}) EXPECT_NE(slot[offset], 0) << offset;

  sim::FirmwareTimer back = sim::DecodeTimerSlot(slot);
  EXPECT_EQ(back.start, t.start);
  EXPECT_EQ(back.duration, t.duration);
  EXPECT_EQ(back.record, t.record);
  EXPECT_EQ(back.name, t.name);
  EXPECT_EQ(sim::TimerStartText(back.start), "2026-12-08 20:05");
}

TEST(TimerSlot, ChangesOfTheFirmwareBytesAreFound)
{
  sim::TimerSlotLayout layout{"ST_TMSS", 200};
  sim::FirmwareTimer t;
  uint8_t before[200], after[200];
  sim::EncodeTimerSlot(t, 0, layout, before);
  std::memcpy(after, before, sizeof(after));
  after[6] = 99;  // the duration: a known field
  after[150] = 0;
  EXPECT_TRUE(sim::ChangedFirmwareBytes(before, after, layout).empty());
  after[185] ^= 0x80;
  after[199] = 0;
  after[139] = 'x';  // a name that runs into its terminator
  EXPECT_EQ(sim::ChangedFirmwareBytes(before, after, layout), (std::vector<size_t>{185, 199, 139}));

  sim::TimerTableImage was{layout, std::vector<uint8_t>(before, before + 200)};
  sim::TimerTableImage is{layout, std::vector<uint8_t>(after, after + 200)};
  EXPECT_EQ(sim::DescribeTimers(was, is),
            "#0 \"\" record 1: 1858-11-17 00:00 for 0 min -> 1858-11-17 00:00 for 99 min, record now 0; "
            "firmware bytes changed at 185 199 139\n");
}

struct Layout {
  uint32_t system_type;
  int distance;
};

std::ostream &operator<<(std::ostream &out, const Layout &l)
{
  return out << "system type " << l.system_type << ", work areas " << l.distance << " bytes apart";
}

class TimerCodecCrossCheck : public SimTest, public ::testing::WithParamInterface<Layout> {
 protected:
  // Three timers in the firmware's table of this receiver, written by the emulator.
  void Fill()
  {
    config.timer_count = 3;
    config.firmware.timer_slot_size = GetParam().distance;
    Boot();
    WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat",
              sim::FirmwareDat{{2012, 5, 1}, {{static_cast<uint16_t>(config.system_id), GetParam().system_type, 1}}}.Bytes());
    ASSERT_TRUE(sim::TimerLayoutFor(GetParam().system_type, GetParam().distance, &layout));
    int64_t day = sim::MjdFromDate(2026, 12, 8);
    timers = {
      {sim::PackTimerStart(day, 20, 15), 90, 1, "Tatort"},
      {sim::PackTimerStart(day, 23, 59), 0xFFFF, 0, std::string(130, 'N')},
      {sim::PackTimerStart(day + 1, 0, 0), 1, 2, ""},
    };
    for(size_t k = 0; k < timers.size(); ++k)
      sim::EncodeTimerSlot(timers[k], k, layout, receiver->timer_table().data() + k * layout.size);
    before.assign(receiver->timer_table().begin(), receiver->timer_table().begin() + 3 * layout.size);
  }

  sim::TimerSlotLayout layout;
  std::vector<sim::FirmwareTimer> timers;
  std::vector<uint8_t> before;
};

TEST_P(TimerCodecCrossCheck, TheCodecReadsWhatTheEmulatorWrote)
{
  Fill();
  for(size_t k = 0; k < timers.size(); ++k)
  {
    TimerRecord r;
    ASSERT_EQ(FlashTimerGetInfo(static_cast<int>(k), &r), 1) << k;
    EXPECT_EQ(r.StartTime, timers[k].start) << k;
    EXPECT_EQ(r.Duration, timers[k].duration) << k;
    EXPECT_EQ(r.RecordFlag, timers[k].record) << k;
    EXPECT_EQ(std::string(r.Name), timers[k].name) << k;
  }
}

TEST_P(TimerCodecCrossCheck, WritingBackKeepsEveryFirmwareByte)
{
  Fill();
  // A round trip through the codec changes nothing at all.
  for(int k = 0; k < 3; ++k)
  {
    TimerRecord r;
    ASSERT_EQ(FlashTimerGetInfo(k, &r), 1);
    ASSERT_EQ(FlashTimerSetInfo(k, &r), 1);
  }
  EXPECT_EQ(std::vector<uint8_t>(receiver->timer_table().begin(), receiver->timer_table().begin() + before.size()), before);

  // A change of the known fields shows in the emulator's reading, in that
  // slot only, and leaves the firmware's bytes alone.
  TimerRecord r;
  ASSERT_EQ(FlashTimerGetInfo(1, &r), 1);
  r.StartTime = timers[2].start;
  r.Duration = 42;
  ASSERT_EQ(FlashTimerSetInfo(1, &r), 1);
  const uint8_t *table = receiver->timer_table().data();
  sim::FirmwareTimer t = sim::DecodeTimerSlot(table + layout.size);
  EXPECT_EQ(t.start, timers[2].start);
  EXPECT_EQ(t.duration, 42);
  EXPECT_TRUE(sim::ChangedFirmwareBytes(before.data() + layout.size, table + layout.size, layout).empty());
  EXPECT_EQ(std::memcmp(table, before.data(), layout.size), 0);
  EXPECT_EQ(std::memcmp(table + 2 * layout.size, before.data() + 2 * layout.size, layout.size), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TimerCodecCrossCheck,
                         ::testing::Values(Layout{5, 200}, Layout{6, 200}, Layout{6, 208}, Layout{7, 208}),
                         [](const ::testing::TestParamInfo<Layout> &info) {
                           return "type" + std::to_string(info.param.system_type) + "_" + std::to_string(info.param.distance);
                         });

}  // namespace
