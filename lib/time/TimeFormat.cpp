#include "time.h"

#include "../str/str.h"

static char sTimeStamp[TIME_STAMP_SIZE];

char *TimeFormat(PackedDateTime dateTime, byte seconds, dword format)
{
  word year = 0;
  byte month = 0, day = 0, weekday = 0;
  if(PACKED_MJD(dateTime) != 0)
    TAP_ExtractMjd((word)PACKED_MJD(dateTime), &year, &month, &day, &weekday);

  int hour = (int)PACKED_HOUR(dateTime);
  int minute = (int)PACKED_MINUTE(dateTime);
  int second = seconds;

  // Every text fits: the longest is 19 characters and each field is bounded
  // by its type (the year has at most five digits).
  switch(format)
  {
    case 1: StrFormat(sTimeStamp, sizeof(sTimeStamp), "%02d:%02d", hour, minute); break;
    case 2: StrFormat(sTimeStamp, sizeof(sTimeStamp), "%02d:%02d:%02d", hour, minute, second); break;
    case 3: StrFormat(sTimeStamp, sizeof(sTimeStamp), "%02d-%02d-%02d", year, month, day); break;
    case 4:
      StrFormat(sTimeStamp, sizeof(sTimeStamp), "%04d-%02d-%02d %02d:%02d", year, month, day,
                hour, minute);
      break;
    case 5:
      StrFormat(sTimeStamp, sizeof(sTimeStamp), "%04d-%02d-%02d %02d:%02d:%02d", year, month,
                day, hour, minute, second);
      break;
    case 6:
      StrFormat(sTimeStamp, sizeof(sTimeStamp), "%04d%02d%02d_%02d%02d", year, month, day, hour,
                minute);
      break;
    default: sTimeStamp[0] = '\0'; break;
  }
  return sTimeStamp;
}
