#include "timers.h"
#include "timers_internal.h"

int FlashTimerDecode(const void *slot, TimerRecord *record)
{
  if(slot == NULL || record == NULL) return 0;
  const TimerLayout *layout = TimerReceiverLayout();
  if(layout == NULL) return 0;
  TimerDecodeSlot(layout, (const byte *)slot, record);
  return 1;
}
