#include "time.h"

int TimeDiff(PackedDateTime from, PackedDateTime to)
{
  PackedDateTime later = to, earlier = from;
  int negate = 0;
  if(to < from)
  {
    later = from;
    earlier = to;
    negate = 1;
  }

  int dm = (int)PACKED_MINUTE(later) - (int)PACKED_MINUTE(earlier);
  int dh = (int)PACKED_HOUR(later) - (int)PACKED_HOUR(earlier);
  int dd = (int)PACKED_MJD(later) - (int)PACKED_MJD(earlier);
  if(dm < 0)
  {
    dm += 60;
    dh--;
  }
  if(dh < 0)
  {
    dh += 24;
    dd--;
  }

  int result = dd * 1440 + dh * 60 + dm;
  return negate ? -result : result;
}
