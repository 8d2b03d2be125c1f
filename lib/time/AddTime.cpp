#include "time.h"

PackedDateTime AddTime(PackedDateTime dateTime, int minutes)
{
  int hours = minutes / 60;
  int m = (int)PACKED_MINUTE(dateTime) + minutes % 60;
  int h = (int)PACKED_HOUR(dateTime);
  int d = (int)PACKED_MJD(dateTime);

  if(m < 0)
  {
    m += 60;
    h--;
  }
  else if(m >= 60)
  {
    m -= 60;
    h++;
  }

  // Whole days first, so huge shifts cost no loop.
  h += hours % 24;
  d += hours / 24;
  while(h >= 24)
  {
    h -= 24;
    d++;
  }
  while(h < 0)
  {
    h += 24;
    d--;
  }
  return PACK_DATETIME((dword)d & 0xFFFF, h, m);
}
