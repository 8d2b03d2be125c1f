#include "time.h"

#include <stddef.h>

PackedDateTime Now(byte *secondsOut)
{
  word mjd = 0;
  byte hour = 0, minute = 0, second = 0;
  TAP_GetTime(&mjd, &hour, &minute, secondsOut != NULL ? secondsOut : &second);
  return PACK_DATETIME(mjd, hour, minute);
}
