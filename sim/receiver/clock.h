// The receiver's clock, virtual: it moves only when the emulator moves it.
// Nothing here reads the PC's clock.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct Date {
  int year = 0;
  int month = 0;    // 1..12
  int day = 0;      // 1..31
  int weekday = 0;  // 0 = Monday .. 6 = Sunday
};

// Modified Julian Day of a calendar date (proleptic Gregorian), and back.
int64_t MjdFromDate(int year, int month, int day);
Date DateFromMjd(int64_t mjd);

// The receiver's local times as the emulator's outputs write them.
// "2026-12-08 13:45:00.00", `day_ticks` (10 ms) after local midnight.
std::string LocalTimeText(int64_t mjd, uint64_t day_ticks);
// "13:45:00".
std::string TimeOfDayText(uint32_t second_of_day);
// "Tue 08.12. 13:45:00", or "Tue 08.12.2026 13:45:00" `with_year`.
std::string DayTimeText(int64_t mjd, uint32_t second_of_day, bool with_year);
// "2026-12-08 20:05": a date with an hour and minute as a timer holds them;
// out of range unpadded as they stand ("2026-12-08 25:7").
std::string DateMinuteText(int64_t mjd, int hour, int minute);

class Clock {
 public:
  // Ticks are 10 ms. `tick` is the firmware's tick counter, `uptime` the time
  // since boot, `mjd` and `seconds_of_day` the local date and time.
  void Set(uint32_t tick, uint64_t uptime_ticks, int64_t mjd, uint32_t seconds_of_day);
  void Advance(uint64_t ticks);

  uint32_t tick() const { return tick_; }
  uint64_t uptime() const { return uptime_; }
  int64_t mjd() const { return mjd_; }
  uint32_t second_of_day() const { return static_cast<uint32_t>(day_ticks_ / 100); }
  int hour() const { return static_cast<int>(second_of_day() / 3600); }
  int minute() const { return static_cast<int>(second_of_day() / 60 % 60); }
  int second() const { return static_cast<int>(second_of_day() % 60); }

  // "2026-12-08 13:45:00.00" for the emulator's own output.
  std::string LocalText() const;
  // /proc/uptime as the kernel writes it: "12345.67 12000.00\n".
  std::string UptimeFileText() const;

 private:
  uint32_t tick_ = 0;
  uint64_t uptime_ = 0;
  int64_t mjd_ = 0;
  uint64_t day_ticks_ = 0;  // ticks since local midnight
};

}  // namespace sim
