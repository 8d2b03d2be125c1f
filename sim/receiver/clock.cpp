#include "clock.h"

#include <cstdio>

namespace sim {

namespace {
constexpr int64_t kTicksPerDay = 24LL * 3600 * 100;
// Days from 1970-01-01 to the MJD epoch 1858-11-17.
constexpr int64_t kUnixDayOfMjdZero = -40587;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
}  // namespace

int64_t MjdFromDate(int year, int month, int day)
{
  return DaysFromCivil(year, month, day) - kUnixDayOfMjdZero;
}

Date DateFromMjd(int64_t mjd)
{
  int64_t z = mjd + kUnixDayOfMjdZero + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Date date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
  // MJD 0 was a Wednesday.
  date.weekday = static_cast<int>(((mjd + 2) % 7 + 7) % 7);
  return date;
}

void Clock::Set(uint32_t tick, uint64_t uptime_ticks, int64_t mjd, uint32_t seconds_of_day)
{
  tick_ = tick;
  uptime_ = uptime_ticks;
  mjd_ = mjd;
  day_ticks_ = static_cast<uint64_t>(seconds_of_day % 86400) * 100;
}

void Clock::Advance(uint64_t ticks)
{
  tick_ += static_cast<uint32_t>(ticks);  // the firmware's counter wraps
  uptime_ += ticks;
  day_ticks_ += ticks;
  mjd_ += static_cast<int64_t>(day_ticks_ / kTicksPerDay);
  day_ticks_ %= kTicksPerDay;
}

std::string LocalTimeText(int64_t mjd, uint64_t day_ticks)
{
  Date d = DateFromMjd(mjd);
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%02d", d.year, d.month, d.day,
                static_cast<int>(day_ticks / 360000), static_cast<int>(day_ticks / 6000 % 60),
                static_cast<int>(day_ticks / 100 % 60), static_cast<int>(day_ticks % 100));
  return text;
}

std::string TimeOfDayText(uint32_t second_of_day)
{
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", static_cast<int>(second_of_day / 3600),
                static_cast<int>(second_of_day / 60 % 60), static_cast<int>(second_of_day % 60));
  return text;
}

std::string DayTimeText(int64_t mjd, uint32_t second_of_day, bool with_year)
{
  static const char *const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  Date d = DateFromMjd(mjd);
  char year[8] = "";
  if(with_year) std::snprintf(year, sizeof(year), "%04d", d.year);
  char text[48];
  std::snprintf(text, sizeof(text), "%s %02d.%02d.%s %s", kDays[d.weekday], d.day, d.month, year,
                TimeOfDayText(second_of_day).c_str());
  return text;
}

std::string DateMinuteText(int64_t mjd, int hour, int minute)
{
  Date d = DateFromMjd(mjd);
  char text[64];
  std::snprintf(text, sizeof(text), hour < 24 && minute < 60 ? "%04d-%02d-%02d %02d:%02d" : "%04d-%02d-%02d %d:%d",
                d.year, d.month, d.day, hour, minute);
  return text;
}

std::string Clock::LocalText() const { return LocalTimeText(mjd_, day_ticks_); }

std::string Clock::UptimeFileText() const
{
  char text[96];
  // The idle figure is of no interest to the plug-in; keep it plausible.
  uint64_t idle = uptime_ / 2;
  std::snprintf(text, sizeof(text), "%llu.%02u %llu.%02u\n",
                static_cast<unsigned long long>(uptime_ / 100), static_cast<unsigned>(uptime_ % 100),
                static_cast<unsigned long long>(idle / 100), static_cast<unsigned>(idle % 100));
  return text;
}

}  // namespace sim
