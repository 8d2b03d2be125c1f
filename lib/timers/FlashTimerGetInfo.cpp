#include "timers.h"
#include "timers_internal.h"

int FlashTimerGetInfo(int index, TimerRecord *record)
{
  if(record == NULL) return 0;
  const TimerLayout *layout;
  const byte *slot = TimerLiveSlot(index, &layout);
  if(slot == NULL) return 0;
  TimerDecodeSlot(layout, slot, record);
  return 1;
}
