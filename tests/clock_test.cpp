// The emulated clock and the firmware's date conversions.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace {

struct DateCase {
  int year, month, day;
  int mjd;
  int weekday;  // 0 = Monday
};

// Known MJDs: the epoch, dates either side of 1900 and 2100 (not leap years),
// 2000 (a leap year), and the last day the 16-bit MJD can hold.
const DateCase kDates[] = {
  {1858, 11, 17, 0, 2},  {1900, 1, 1, 15020, 0},  {1900, 2, 28, 15078, 2}, {1900, 3, 1, 15079, 3},
  {1970, 1, 1, 40587, 3}, {2000, 2, 29, 51603, 1}, {2000, 3, 1, 51604, 2},  {2010, 11, 17, 55517, 2},
  {2010, 11, 18, 55518, 3}, {2015, 1, 9, 57031, 4}, {2038, 4, 22, 65535, 3}, {2100, 2, 28, 88127, 6},
  {2100, 3, 1, 88128, 0}, {2100, 12, 31, 88433, 4},
};

class ClockTest : public SimTest {};

TEST_F(ClockTest, MjdOfKnownDatesBothWays)
{
  Boot();
  for(const DateCase &c : kDates)
  {
    EXPECT_EQ(TAP_MakeMjd(static_cast<word>(c.year), static_cast<byte>(c.month), static_cast<byte>(c.day)), c.mjd)
        << c.year << "-" << c.month << "-" << c.day;
    word year = 0;
    byte month = 0, day = 0, weekday = 9;
    TAP_ExtractMjd(static_cast<dword>(c.mjd), &year, &month, &day, &weekday);
    EXPECT_EQ(year, c.year);
    EXPECT_EQ(month, c.month);
    EXPECT_EQ(day, c.day);
    EXPECT_EQ(weekday, c.weekday) << c.mjd;
  }
}

TEST_F(ClockTest, EveryDayFrom1900To2100RoundTrips)
{
  Boot();
  int expected = TAP_MakeMjd(1900, 1, 1);
  for(int mjd = expected; mjd <= TAP_MakeMjd(2100, 12, 31); ++mjd)
  {
    word year;
    byte month, day, weekday;
    TAP_ExtractMjd(static_cast<dword>(mjd), &year, &month, &day, &weekday);
    ASSERT_EQ(TAP_MakeMjd(year, month, day), mjd);
  }
}

TEST_F(ClockTest, TicksUptimeAndLocalTimeMoveTogether)
{
  config.start_tick = 0xFFFFFF00u;  // the tick counter wraps; the uptime does not
  config.uptime_ticks = 0xFFFFFFF0ull;
  config.year = 2026, config.month = 12, config.day = 31;
  config.hour = 23, config.minute = 59, config.second = 59;
  sim::Receiver &r = Boot();
  r.clock().Advance(0x200);
  EXPECT_EQ(TAP_GetTick(), 0x100u);
  EXPECT_EQ(r.clock().uptime(), 0x1000001F0ull);
  word mjd;
  byte hour, minute, second;
  TAP_GetTime(&mjd, &hour, &minute, &second);
  EXPECT_EQ(mjd, TAP_MakeMjd(2027, 1, 1));
  EXPECT_EQ(hour, 0);
  EXPECT_EQ(minute, 0);
  EXPECT_EQ(second, 4);  // 512 ticks = 5.12 s after 23:59:59
}

}  // namespace
