// Packed date-times, timestamps and the uptime, against the emulated clock.
#include <gtest/gtest.h>

#include <filesystem>

#include "lib/time/time.h"
#include "sim_fixture.h"

namespace {

constexpr dword kDay = 61000;  // an arbitrary MJD (2025-11-23)

PackedDateTime At(dword mjd, int hour, int minute) { return PACK_DATETIME(mjd, hour, minute); }

struct AddCase {
  PackedDateTime from;
  int minutes;
  PackedDateTime expected;
};

TEST(AddTime, CarriesAcrossMinutesHoursAndDays)
{
  const AddCase cases[] = {
    {At(kDay, 23, 59), 1, At(kDay + 1, 0, 0)},
    {At(kDay, 0, 0), -1, At(kDay - 1, 23, 59)},
    {At(kDay, 10, 30), 1500, At(kDay + 1, 11, 30)},
    {At(kDay, 10, 30), -3000, At(kDay - 2, 8, 30)},
    {At(kDay, 10, 30), 0, At(kDay, 10, 30)},
    {At(kDay, 10, 30), 59, At(kDay, 11, 29)},
    {At(kDay, 10, 30), -31, At(kDay, 9, 59)},
    {At(kDay, 12, 0), 7 * 1440, At(kDay + 7, 12, 0)},
    {At(kDay, 12, 0), -1441, At(kDay - 1, 11, 59)},
    {At(0xFFFF, 23, 59), 1, At(0, 0, 0)},  // the 16-bit date wraps, nothing else is touched
    {At(0, 0, 0), -1, At(0xFFFF, 23, 59)},   // both ways
    {At(1, 12, 0), -3 * 1440, At(0xFFFE, 12, 0)},
  };
  for(const AddCase &c : cases)
    EXPECT_EQ(AddTime(c.from, c.minutes), c.expected) << std::hex << c.from << " + " << std::dec << c.minutes;
}

TEST(AddTime, HugeShiftsFinishAtOnce)
{
  // A whole-day shift must not walk hour by hour: two million minutes.
  EXPECT_EQ(AddTime(At(10000, 6, 0), 2000000), At(10000 + 1389, 3, 20));  // 1388 d 21 h 20 min
  EXPECT_EQ(AddTime(At(10000, 6, 0), -2000000), At(10000 - 1389, 8, 40));
}

struct DiffCase {
  PackedDateTime from, to;
  int minutes;
};

TEST(TimeDiff, SignedMinutesBetweenTwoTimes)
{
  const DiffCase cases[] = {
    {At(kDay, 23, 50), At(kDay + 1, 0, 10), 20},
    {At(kDay + 1, 0, 10), At(kDay, 23, 50), -20},
    {At(kDay, 8, 15), At(kDay, 8, 15), 0},
    {At(kDay, 8, 15), At(kDay + 3, 8, 14), 3 * 1440 - 1},
    {At(kDay, 0, 0), At(kDay, 23, 59), 1439},
  };
  for(const DiffCase &c : cases) EXPECT_EQ(TimeDiff(c.from, c.to), c.minutes);
}

TEST(TimeDiff, UndoesAddTime)
{
  for(int minutes : {-100000, -1441, -1, 0, 1, 59, 60, 1440, 99999})
    EXPECT_EQ(TimeDiff(At(kDay, 13, 7), AddTime(At(kDay, 13, 7), minutes)), minutes);
}

class TimeFormatTest : public SimTest {};

TEST_F(TimeFormatTest, EveryFormat)
{
  Boot();
  const PackedDateTime t = At(57031, 7, 5);  // 2015-01-09
  const struct {
    dword format;
    const char *text;
  } cases[] = {
    {1, "07:05"}, {2, "07:05:09"}, {3, "2015-01-09"}, {4, "2015-01-09 07:05"},
    {5, "2015-01-09 07:05:09"}, {6, "20150109_0705"}, {0, ""}, {7, ""}, {9, ""}, {0xFFFFFFFF, ""},
  };
  for(const auto &c : cases) EXPECT_STREQ(TimeFormat(t, 9, c.format), c.text) << "format " << c.format;
}

TEST_F(TimeFormatTest, MissingDateIsZeros)
{
  Boot();
  EXPECT_STREQ(TimeFormat(At(0, 7, 5), 9, 3), "00-00-00");
  EXPECT_STREQ(TimeFormat(At(0, 7, 5), 9, 5), "0000-00-00 07:05:09");
}

TEST_F(TimeFormatTest, ReturnsTheOneSharedBuffer)
{
  Boot();
  char *first = TimeFormat(At(57031, 7, 5), 0, 1);
  char *second = TimeFormat(At(57031, 7, 5), 0, 9);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "");
}

class NowTest : public SimTest {};

TEST_F(NowTest, PacksTheReceiversLocalTime)
{
  config.year = 2026, config.month = 12, config.day = 8;
  config.hour = 23, config.minute = 59, config.second = 58;
  sim::Receiver &r = Boot();
  byte seconds = 0;
  EXPECT_EQ(Now(&seconds), At(61382, 23, 59));
  EXPECT_EQ(seconds, 58);
  r.clock().Advance(300);  // 3 s: past midnight
  EXPECT_EQ(Now(nullptr), At(61383, 0, 0));
}

class UptimeTest : public SimTest {};

TEST_F(UptimeTest, HundredthsOfTheReceiversUptime)
{
  const struct {
    uint64_t uptime_ticks;
    dword expected;
  } cases[] = {
    {1234567, 1234567},
    {0, 0},
    {2147483647ULL, 2147483647u},
    {2500000000ULL, 2500000000u},  // bit 31 set
    {4294967295ULL, 4294967295u},
  };
  for(const auto &c : cases)
  {
    receiver.reset();
    config.uptime_ticks = c.uptime_ticks;
    Boot();
    EXPECT_EQ(GetUptime(), c.expected) << c.uptime_ticks;
  }
}

TEST_F(UptimeTest, BeyondTheTickRangeIsTheLargestTickAndBelowZeroIsZero)
{
  // Up for more than 497 days: a wrapped value would read as just booted and
  // hold back the first mount for the whole start-up delay.
  for(uint64_t uptime_ticks : {4294967296ULL, 1000000000000ULL})
  {
    receiver.reset();
    config.uptime_ticks = uptime_ticks;
    Boot();
    EXPECT_EQ(GetUptime(), 4294967295u) << uptime_ticks;
  }

  // No kernel writes a negative uptime, but a broken one must not turn into
  // a huge unsigned count. The emulator writes the file when it is opened,
  // so the text is put in place once it has been.
  const std::string negative = "-5.00 1.00\n";
  receiver->trace().SetListener([&](const sim::TraceEntry &e) {
    if(e.text.find("/proc/uptime") != std::string::npos) WriteFile("/proc/uptime", negative);
  });
  WriteFile("/proc/uptime", negative);
  EXPECT_EQ(GetUptime(), 0u);
  receiver->trace().SetListener(nullptr);
}

TEST_F(UptimeTest, UnreadableOrOddFileGivesZero)
{
  Boot();
  // The emulator makes /proc/uptime when it is opened; a file that cannot be
  // opened there (a folder in its place) must give 0, not a stale value.
  std::filesystem::remove(HostPath("/proc/uptime"));
  MakeDir("/proc/uptime");
  EXPECT_EQ(GetUptime(), 0u);
}

TEST_F(UptimeTest, TheKernelsTextToTicksExactly)
{
  // Read as decimal text, not through a double: 0.29 s is 29 ticks, where
  // 0.29 * 100.0 truncates to 28.
  const struct {
    const char *text;
    dword expected;
  } cases[] = {
    {"12345.67 54321.00\n", 1234567},
    {"0.29 0.10\n", 29},
    {"1.15 0.50\n", 115},
    {"25000000.00 1.00\n", 2500000000u},  // bit 31 set
    {"42949672.95 1.00\n", 4294967295u},
    {"42949672.96 1.00\n", 4294967295u},  // past 2^32 - 1 ticks: stays there
    {"99999999999999999999.99 1.00\n", 4294967295u},
    {"17.5 3.1\n", 1750},
    {"17.999 3.1\n", 1799},  // what is finer than a tick is cut
    {"17 3\n", 1700},
    {"-5.00 1.00\n", 0},
    {"up 5 days\n", 0},
    {"\n", 0},
  };
  for(const auto &c : cases)
  {
    receiver.reset();
    config.uptime_text = c.text;
    Boot();
    EXPECT_EQ(GetUptime(), c.expected) << '"' << c.text << '"';
  }
}

}  // namespace
