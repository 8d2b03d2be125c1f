#include "timers.h"
#include "timers_internal.h"

int FlashTimerEncode(void *slot, const TimerRecord *record)
{
  if(slot == NULL || record == NULL) return 0;
  const TimerLayout *layout = TimerReceiverLayout();
  if(layout == NULL) return 0;
  TimerEncodeSlot(layout, (byte *)slot, record);
  return 1;
}
