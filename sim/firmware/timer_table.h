// The firmware's recording timer table: packed slots, one per timer, whose
// size and tail differ between receiver generations. The emulator writes the
// timers a scenario lists into the table exactly as the firmware keeps them,
// and reads them back after a run.
//
// Kept apart from the plug-in's own codec on purpose: tests set one against
// the other, so a slip in either shows up.
//
// Only four fields have a meaning the emulator knows (start, duration, name,
// recording flag). Every other byte of a slot belongs to the firmware; the
// emulator fills those bytes with values that depend on the timer and the
// offset, so that a codec that drops, shifts or clips any of them changes the
// slot and the comparison afterwards says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Offsets of the fields the emulator knows; the same in every layout.
constexpr size_t kTimerDurationOffset = 6;    // 16 bits, minutes
constexpr size_t kTimerNameOffset = 9;        // 130 characters and a NUL at 139
constexpr size_t kTimerNameChars = 130;
constexpr size_t kTimerStartOffset = 140;     // 32 bits: MJD << 16 | hour << 8 | minute
constexpr size_t kTimerRecordFlagOffset = 150;
constexpr size_t kTimerSlotMaxSize = 208;

struct TimerSlotLayout {
  std::string name;  // "ST_TMSS", "ST_TMST200", "ST_TMST", "ST_TMSC"
  size_t size = 0;   // bytes per slot
};

// The layout of a receiver of `system_type` (5, 6, 7) whose two timer work
// areas lie `work_area_distance` bytes apart. False for a system type that
// has no timer table layout.
bool TimerLayoutFor(uint32_t system_type, int work_area_distance, TimerSlotLayout *layout);

struct FirmwareTimer {
  uint32_t start = 0;     // MJD << 16 | hour << 8 | minute
  uint16_t duration = 0;  // minutes
  uint8_t record = 1;     // 1 = a recording timer
  std::string name;       // up to 130 characters
};

uint32_t PackTimerStart(int64_t mjd, int hour, int minute);
// "2026-12-08 20:05"; fields out of range are shown as numbers.
std::string TimerStartText(uint32_t start);

// Writes timer number `index` into its slot: the known fields from `timer`,
// every other byte the firmware's own value for that timer.
void EncodeTimerSlot(const FirmwareTimer &timer, size_t index, const TimerSlotLayout &layout, uint8_t *slot);
FirmwareTimer DecodeTimerSlot(const uint8_t *slot);

// Offsets of the firmware's own bytes (all but the known fields) that differ
// between two slots of one layout.
std::vector<size_t> ChangedFirmwareBytes(const uint8_t *before, const uint8_t *after, const TimerSlotLayout &layout);

// A table of `count` slots, as the firmware has it in memory.
struct TimerTableImage {
  TimerSlotLayout layout;
  std::vector<uint8_t> bytes;
  size_t count() const { return layout.size == 0 ? 0 : bytes.size() / layout.size; }
  const uint8_t *slot(size_t index) const { return bytes.data() + index * layout.size; }
  FirmwareTimer timer(size_t index) const { return DecodeTimerSlot(slot(index)); }
};

// One line per timer comparing the table before and after a run:
//   #0 "News" record 1: 2026-12-08 23:59 for 30 min -> 2026-12-09 00:00 for 29 min
// with "unchanged" when the slot is the same, and the firmware bytes named
// when any of them changed.
std::string DescribeTimers(const TimerTableImage &before, const TimerTableImage &after);

}  // namespace sim
