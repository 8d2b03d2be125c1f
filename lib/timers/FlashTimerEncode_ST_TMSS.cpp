#include "timers.h"
#include "timers_internal.h"

int FlashTimerEncode_ST_TMSS(void *slot, const TimerRecord *record)
{
  if(slot == NULL || record == NULL) return 0;
  TimerEncodeSlot(&TimerLayout_ST_TMSS, (byte *)slot, record);
  return 1;
}
