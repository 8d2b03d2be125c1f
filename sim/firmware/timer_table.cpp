#include "timer_table.h"

#include <algorithm>
#include <cstring>

#include "../receiver/clock.h"

namespace sim {

namespace {

constexpr uint32_t kSystemTypeTmss = 5, kSystemTypeTmst = 6, kSystemTypeTmsc = 7;

bool IsKnownByte(size_t offset)
{
  return (offset >= kTimerDurationOffset && offset < kTimerDurationOffset + 2) ||
         (offset >= kTimerNameOffset && offset < kTimerStartOffset + 4) || offset == kTimerRecordFlagOffset;
}

// The firmware's own value of a byte: never 0, different from one offset and
// one timer to the next.
uint8_t FirmwareByte(size_t index, size_t offset)
{
  return static_cast<uint8_t>(0x80 | ((index * 29 + offset * 37 + 11) % 127));
}

void Put(uint8_t *slot, size_t offset, uint32_t value, size_t size)
{
  for(size_t k = 0; k < size; ++k) slot[offset + k] = static_cast<uint8_t>(value >> (8 * k));
}

uint32_t Get(const uint8_t *slot, size_t offset, size_t size)
{
  uint32_t value = 0;
  for(size_t k = 0; k < size; ++k) value |= static_cast<uint32_t>(slot[offset + k]) << (8 * k);
  return value;
}

std::string Describe(const FirmwareTimer &t)
{
  return TimerStartText(t.start) + " for " + std::to_string(t.duration) + " min";
}

}  // namespace

bool TimerLayoutFor(uint32_t system_type, int work_area_distance, TimerSlotLayout *layout)
{
  switch(system_type)
  {
    case kSystemTypeTmss: *layout = {"ST_TMSS", 200}; return true;
    // Two firmware generations, told apart only by the distance of the work areas.
    case kSystemTypeTmst: *layout = work_area_distance == 200 ? TimerSlotLayout{"ST_TMST200", 200} : TimerSlotLayout{"ST_TMST", 208}; return true;
    case kSystemTypeTmsc: *layout = {"ST_TMSC", 196}; return true;
    default: return false;
  }
}

uint32_t PackTimerStart(int64_t mjd, int hour, int minute)
{
  return static_cast<uint32_t>((mjd & 0xFFFF) << 16) | static_cast<uint32_t>((hour & 0xFF) << 8) |
         static_cast<uint32_t>(minute & 0xFF);
}

std::string TimerStartText(uint32_t start)
{
  return DateMinuteText(start >> 16, static_cast<int>((start >> 8) & 0xFF), static_cast<int>(start & 0xFF));
}

void EncodeTimerSlot(const FirmwareTimer &timer, size_t index, const TimerSlotLayout &layout, uint8_t *slot)
{
  for(size_t offset = 0; offset < layout.size; ++offset) slot[offset] = IsKnownByte(offset) ? 0 : FirmwareByte(index, offset);
  Put(slot, kTimerDurationOffset, timer.duration, 2);
  // The name is padded with NULs up to its terminator at byte 139.
  std::memcpy(slot + kTimerNameOffset, timer.name.data(), std::min(timer.name.size(), kTimerNameChars));
  Put(slot, kTimerStartOffset, timer.start, 4);
  slot[kTimerRecordFlagOffset] = timer.record;
}

FirmwareTimer DecodeTimerSlot(const uint8_t *slot)
{
  FirmwareTimer timer;
  timer.duration = static_cast<uint16_t>(Get(slot, kTimerDurationOffset, 2));
  const char *name = reinterpret_cast<const char *>(slot + kTimerNameOffset);
  timer.name.assign(name, strnlen(name, kTimerNameChars));
  timer.start = Get(slot, kTimerStartOffset, 4);
  timer.record = slot[kTimerRecordFlagOffset];
  return timer;
}

std::vector<size_t> ChangedFirmwareBytes(const uint8_t *before, const uint8_t *after, const TimerSlotLayout &layout)
{
  std::vector<size_t> changed;
  for(size_t offset = 0; offset < layout.size; ++offset)
    if(!IsKnownByte(offset) && before[offset] != after[offset]) changed.push_back(offset);
  // The terminator after the name belongs to nobody: it must stay 0.
  if(after[kTimerNameOffset + kTimerNameChars] != 0) changed.push_back(kTimerNameOffset + kTimerNameChars);
  return changed;
}

std::string DescribeTimers(const TimerTableImage &before, const TimerTableImage &after)
{
  std::string text;
  for(size_t k = 0; k < before.count(); ++k)
  {
    FirmwareTimer was = before.timer(k);
    text += "#" + std::to_string(k) + " \"" + was.name + "\" record " + std::to_string(was.record) + ": " + Describe(was);
    if(k >= after.count())
    {
      text += " -> (gone)\n";
      continue;
    }
    FirmwareTimer is = after.timer(k);
    if(std::memcmp(before.slot(k), after.slot(k), before.layout.size) == 0)
      text += " (unchanged)";
    else if(is.start != was.start || is.duration != was.duration)
      text += " -> " + Describe(is);
    if(is.record != was.record) text += ", record now " + std::to_string(is.record);
    if(is.name != was.name) text += ", name now \"" + is.name + "\"";
    std::vector<size_t> changed = ChangedFirmwareBytes(before.slot(k), after.slot(k), before.layout);
    if(!changed.empty())
    {
      text += "; firmware bytes changed at";
      for(size_t offset : changed) text += " " + std::to_string(offset);
    }
    text += "\n";
  }
  return text;
}

}  // namespace sim
