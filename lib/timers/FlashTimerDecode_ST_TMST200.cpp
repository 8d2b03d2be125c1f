#include "timers.h"
#include "timers_internal.h"

int FlashTimerDecode_ST_TMST200(const void *slot, TimerRecord *record)
{
  if(slot == NULL || record == NULL) return 0;
  TimerDecodeSlot(&TimerLayout_ST_TMST200, (const byte *)slot, record);
  return 1;
}
