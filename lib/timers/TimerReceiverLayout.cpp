#include "timers_internal.h"

#include "../firmware/firmware.h"

const TimerLayout *TimerReceiverLayout(void)
{
  switch(GetSystemType())
  {
    case ST_TMSS: return &TimerLayout_ST_TMSS;
    case ST_TMSC: return &TimerLayout_ST_TMSC;
    case ST_TMST:
      // The two ST_TMST generations differ only in their slot size, which
      // the firmware reveals by the distance of its work areas. Anything
      // else (a work area missing, an unknown generation) must not be
      // guessed: a wrong size would read garbage and, worse, overwrite the
      // neighbouring timers of the live table.
      switch(FlashTimerStructSize())
      {
        case TIMER_SLOT_SIZE_TMST200: return &TimerLayout_ST_TMST200;
        case TIMER_SLOT_SIZE_TMST: return &TimerLayout_ST_TMST;
        default: return NULL;
      }
    default: return NULL;
  }
}
