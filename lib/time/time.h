// Uptime, packed local date-times and timestamp texts.
//
// PackedDateTime: MJD in bits 31-16, hour in 15-8, minute in 7-0; comparing
// two values as unsigned numbers orders them in time. MJD 0 = no date.
#ifndef BRIMVALE_LIB_TIME_H
#define BRIMVALE_LIB_TIME_H

#include "../../host/tap.h"

typedef dword PackedDateTime;

#define PACKED_MJD(dt) ((dword)(dt) >> 16)
#define PACKED_HOUR(dt) (((dword)(dt) >> 8) & 0xFF)
#define PACKED_MINUTE(dt) ((dword)(dt) & 0xFF)
#define PACK_DATETIME(mjd, hour, minute) \
  ((((dword)(mjd) & 0xFFFF) << 16) | (((dword)(hour) & 0xFF) << 8) | ((dword)(minute) & 0xFF))

// Longest timestamp text (19 characters) plus room for callers to append.
#define TIME_STAMP_SIZE 25

// Time since the receiver booted, in ticks of 10 ms; 0 when /proc/uptime
// cannot be read. Uptimes of 2^31 ticks or more keep bit 31 set; beyond
// 2^32 - 1 ticks the result stays at 2^32 - 1.
dword GetUptime(void);

// The current local time; the second goes to *secondsOut unless it is null.
PackedDateTime Now(byte *secondsOut);

// dateTime moved by `minutes` (earlier when negative).
PackedDateTime AddTime(PackedDateTime dateTime, int minutes);

// Minutes from `from` to `to`: positive when `to` is later.
int TimeDiff(PackedDateTime from, PackedDateTime to);

// Formats dateTime and seconds by format 1 to 6 (0 and 7 or more: empty text)
// into one static buffer that the next call overwrites; returns that buffer.
//   1 "07:05"  2 "07:05:09"  3 "2015-01-09"  4 "2015-01-09 07:05"
//   5 "2015-01-09 07:05:09"  6 "20150109_0705"
char *TimeFormat(PackedDateTime dateTime, byte seconds, dword format);

#endif
