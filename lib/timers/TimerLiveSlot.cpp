#include "timers_internal.h"

#include "../firmware/firmware.h"

byte *TimerLiveSlot(int index, const TimerLayout **layout)
{
  // A negative index is refused before the host is asked anything.
  if(index < 0) return NULL;
  if(index >= (int)TAP_Timer_GetTotalNum()) return NULL;
  *layout = TimerReceiverLayout();
  if(*layout == NULL) return NULL;
  byte *table = (byte *)FIS_vFlashBlockTimer();
  if(table == NULL) return NULL;
  return table + (size_t)index * (*layout)->slotSize;
}
