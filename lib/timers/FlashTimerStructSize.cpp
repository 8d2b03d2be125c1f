#include "timers.h"

#include "../firmware/firmware.h"

int FlashTimerStructSize(void)
{
  const byte *edit = (const byte *)FIS_vTimerEditInfo();
  const byte *temp = (const byte *)FIS_vTimerTempInfo();
  // Without both work areas there is no distance to measure; taking a
  // missing one as address 0 would yield a meaningless size.
  if(edit == NULL || temp == NULL) return 0;
  return (int)(temp - edit);
}
