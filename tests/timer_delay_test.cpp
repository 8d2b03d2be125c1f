// Recording timers that would start too soon after start-up are moved one
// minute later and one minute shorter, in the firmware's own timer table.
#include <gtest/gtest.h>

#include <cstring>

#include "app/timerdelay.h"
#include "lib/time/time.h"
#include "lib/timers/timers.h"
#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

namespace {

class TimerDelayTest : public SimTest {
 protected:
  struct Timer {
    int minutes_from_now;  // start relative to 23:50 on 2026-12-08
    int duration;
    int record_flag;
  };

  void StartWith(const std::vector<Timer> &timers, int pre_padding, bool eeprom = true)
  {
    config.year = 2026, config.month = 12, config.day = 8;
    config.hour = 23, config.minute = 50, config.second = 30;
    config.timer_count = static_cast<int>(timers.size());
    config.firmware.eeprom = eeprom;
    Boot();
    WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat",
              sim::FirmwareDat{{2012, 5, 1}, {{static_cast<uint16_t>(config.system_id), 5, 1}}}.Bytes());
    if(eeprom) receiver->eeprom()[0x21] = static_cast<uint8_t>(0xE0 | pre_padding);  // high bits are not the padding
    now_ = Now(nullptr);
    for(size_t k = 0; k < timers.size(); ++k)
    {
      TimerRecord r;
      std::memset(&r, 0, sizeof(r));
      r.StartTime = AddTime(now_, timers[k].minutes_from_now);
      r.Duration = static_cast<word>(timers[k].duration);
      r.RecordFlag = static_cast<byte>(timers[k].record_flag);
      ASSERT_EQ(FlashTimerSetInfo(static_cast<int>(k), &r), 1);
    }
  }

  TimerRecord Read(int index)
  {
    TimerRecord r;
    EXPECT_EQ(FlashTimerGetInfo(index, &r), 1);
    return r;
  }

  PackedDateTime now_ = 0;
};

TEST_F(TimerDelayTest, MovesWhatStartsWithinTwoMinutesOfThePadding)
{
  const struct {
    Timer timer;
    int start_after;  // minutes from now afterwards
    int duration_after;
  } cases[] = {
    {{6, 60, 1}, 7, 59},     // 6 - 5 = 1 < 2: moved
    {{7, 60, 1}, 7, 60},     // 7 - 5 = 2: left alone
    {{-30, 90, 1}, -29, 89}, // already begun: moved as well
    {{1, 60, 0}, 1, 60},     // not a recording timer
    {{1, 60, 2}, 1, 60},     // only exactly 1 records
    {{1, 0, 1}, 2, 0},       // no minute to give: moved, its length does not wrap
  };
  std::vector<Timer> timers;
  for(const auto &c : cases) timers.push_back(c.timer);
  StartWith(timers, 5);
  DelayTimer();
  for(size_t k = 0; k < std::size(cases); ++k)
  {
    TimerRecord r = Read(static_cast<int>(k));
    EXPECT_EQ(r.StartTime, AddTime(now_, cases[k].start_after)) << "timer " << k;
    EXPECT_EQ(r.Duration, cases[k].duration_after) << "timer " << k;
  }
}

TEST_F(TimerDelayTest, AMoveAt2359CarriesIntoTheNextDay)
{
  StartWith({{9, 30, 1}}, 8);  // 23:59, and 9 - 8 = 1
  DelayTimer();
  EXPECT_EQ(Read(0).StartTime, PACK_DATETIME(PACKED_MJD(now_) + 1, 0, 0));
  EXPECT_EQ(Read(0).Duration, 29);
}

TEST_F(TimerDelayTest, WithoutTheEepromImageThePaddingIsZero)
{
  StartWith({{1, 60, 1}, {2, 60, 1}}, 0, false);
  word pre = 7, second = 9;
  EXPECT_EQ(DataGetTimerPadding(&pre, &second), 0);
  EXPECT_EQ(pre, 0);
  EXPECT_EQ(second, 9);
  DelayTimer();
  EXPECT_EQ(Read(0).StartTime, AddTime(now_, 2));
  EXPECT_EQ(Read(1).StartTime, AddTime(now_, 2));
}

TEST_F(TimerDelayTest, PaddingsAreTheLowFiveBitsOfTheirBytes)
{
  StartWith({}, 3);
  receiver->eeprom()[0x22] = 0xFF;
  word pre = 0, second = 0;
  EXPECT_EQ(DataGetTimerPadding(&pre, &second), 1);
  EXPECT_EQ(pre, 3);
  EXPECT_EQ(second, 31);
}

}  // namespace
