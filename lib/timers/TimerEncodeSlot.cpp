#include "timers_internal.h"

// Each record value is cut to its group's width and ORed into the cleared
// slot, so groups sharing a byte or word leave each other alone.
static void EncodeGroups(const TimerBitGroup *groups, size_t count, byte *slot, const TimerRecord *record)
{
  for(size_t i = 0; i < count; i++)
  {
    const TimerBitGroup *g = &groups[i];
    dword bits = (TimerGetField(record, g) >> g->recordBit) & TimerMask(g->bitCount);
    byte *at = slot + g->slotOffset;
    TimerPutLE(at, g->slotBytes, TimerGetLE(at, g->slotBytes) | (bits << g->slotBit));
  }
}

void TimerEncodeSlot(const TimerLayout *layout, byte *slot, const TimerRecord *record)
{
  // The slot's byte TIMER_SLOT_NAME_END, the name's terminator, stays 0 from
  // the clearing.
  TAP_MemSet(slot, 0, layout->slotSize);
  EncodeGroups(TimerCommonGroups, TimerCommonGroupCount, slot, record);
  TimerCopyName((char *)slot + TIMER_SLOT_NAME, record->Name);
  TAP_MemCpy(slot + TIMER_SLOT_BLOCK170, record->Slot170Block, TIMER_BLOCK170_SIZE);
  TAP_MemCpy(slot + TIMER_SLOT_BLOCK179, record->Slot179Block, layout->block179Bytes);
  EncodeGroups(layout->tail, layout->tailCount, slot, record);
}
