#include "timers.h"
#include "timers_internal.h"

int FlashTimerSetInfo(int index, const TimerRecord *record)
{
  if(record == NULL) return 0;
  const TimerLayout *layout;
  byte *slot = TimerLiveSlot(index, &layout);
  if(slot == NULL) return 0;
  // The firmware sees the new timer at once; the slot is cleared only now
  // that its place and layout are settled.
  TimerEncodeSlot(layout, slot, record);
  return 1;
}
