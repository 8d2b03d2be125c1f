#include "timerdelay.h"

#include "../lib/firmware/firmware.h"
#include "../lib/time/time.h"
#include "../lib/timers/timers.h"

#define EEPROM_PRE_PADDING 0x21
#define EEPROM_SECOND_PADDING 0x22
#define PADDING_MASK 0x1F
#define DELAY_WINDOW_MINUTES 2  // timers starting sooner than this are moved
#define DELAY_MINUTES 1

int DataGetTimerPadding(word *pre, word *second)
{
  const byte *eeprom = (const byte *)FIS_vEEPROM();
  if(eeprom == NULL)
  {
    *pre = 0;
    return 0;
  }
  *pre = eeprom[EEPROM_PRE_PADDING] & PADDING_MASK;
  *second = eeprom[EEPROM_SECOND_PADDING] & PADDING_MASK;
  return 1;
}

void DelayTimer(void)
{
  word pre = 0, second = 0;
  DataGetTimerPadding(&pre, &second);
  PackedDateTime now = Now(NULL);

  TimerRecord record;
  for(int index = (int)TAP_Timer_GetTotalNum() - 1; index >= 0; index--)
  {
    if(!FlashTimerGetInfo(index, &record)) continue;
    if(record.RecordFlag != 1) continue;
    if(TimeDiff(now, record.StartTime) - (int)pre >= DELAY_WINDOW_MINUTES) continue;
    // A timer with no minute left to give is moved without shrinking: its
    // length must not wrap round to 65535 minutes.
    record.StartTime = AddTime(record.StartTime, DELAY_MINUTES);
    if(record.Duration >= DELAY_MINUTES) record.Duration -= DELAY_MINUTES;
    FlashTimerSetInfo(index, &record);
  }
}
