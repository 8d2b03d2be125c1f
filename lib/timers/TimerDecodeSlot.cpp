#include "timers_internal.h"

// Groups are ORed into the cleared record, so a field split over two slot
// bytes is put together from both of its groups.
static void DecodeGroups(const TimerBitGroup *groups, size_t count, const byte *slot, TimerRecord *record)
{
  for(size_t i = 0; i < count; i++)
  {
    const TimerBitGroup *g = &groups[i];
    dword bits = (TimerGetLE(slot + g->slotOffset, g->slotBytes) >> g->slotBit) & TimerMask(g->bitCount);
    TimerSetField(record, g, TimerGetField(record, g) | (bits << g->recordBit));
  }
}

void TimerDecodeSlot(const TimerLayout *layout, const byte *slot, TimerRecord *record)
{
  TAP_MemSet(record, 0, sizeof(*record));
  DecodeGroups(TimerCommonGroups, TimerCommonGroupCount, slot, record);
  // Name[TIMER_NAME_CHARS] stays 0 from the clearing: the name is always
  // terminated, even when the slot's own terminator is missing.
  TimerCopyName(record->Name, (const char *)slot + TIMER_SLOT_NAME);
  TAP_MemCpy(record->Slot170Block, slot + TIMER_SLOT_BLOCK170, TIMER_BLOCK170_SIZE);
  TAP_MemCpy(record->Slot179Block, slot + TIMER_SLOT_BLOCK179, layout->block179Bytes);
  DecodeGroups(layout->tail, layout->tailCount, slot, record);
}
