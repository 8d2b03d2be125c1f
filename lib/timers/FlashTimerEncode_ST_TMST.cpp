#include "timers.h"
#include "timers_internal.h"

int FlashTimerEncode_ST_TMST(void *slot, const TimerRecord *record)
{
  if(slot == NULL || record == NULL) return 0;
  TimerEncodeSlot(&TimerLayout_ST_TMST, (byte *)slot, record);
  return 1;
}
