#include "time.h"

#include <stdio.h>

// /proc/uptime holds "seconds.hundredths idle.hundredths".
#define UPTIME_LINE_SIZE 4096
#define UPTIME_MAX_TICKS 0xFFFFFFFFu

// The first number of the line in hundredths of a second, read digit by digit:
// no floating point, as firmwares differ in how they use the FPU (and a double
// turns 0.29 s into 28 ticks), and no sscanf, which newer C libraries export
// only under a name older ones lack. Digits past the hundredths are cut, as
// the tick is the unit; an uptime beyond 2^32 - 1 ticks stays at that. 0 when
// the line does not start with a number.
static dword UptimeTicks(const char *line)
{
  while(*line == ' ' || *line == '\t') line++;

  dword ticks = 0;
  int digits = 0;
  int saturated = 0;
  for(; *line >= '0' && *line <= '9'; line++, digits++)
  {
    dword digit = (dword)(*line - '0');
    if(ticks > (UPTIME_MAX_TICKS - digit) / 10) saturated = 1;
    if(!saturated) ticks = ticks * 10 + digit;
  }

  // Hundredths: the two digits after the point, missing ones count as 0.
  int fraction = 0;
  if(*line == '.')
  {
    line++;
    for(int place = 0; place < 2; place++)
    {
      fraction *= 10;
      if(*line >= '0' && *line <= '9')
      {
        fraction += *line - '0';
        line++;
        digits++;
      }
    }
    while(*line >= '0' && *line <= '9')
    {
      line++;
      digits++;
    }
  }
  if(digits == 0) return 0;

  if(saturated || ticks > (UPTIME_MAX_TICKS - (dword)fraction) / 100) return UPTIME_MAX_TICKS;
  return ticks * 100 + (dword)fraction;
}

dword GetUptime(void)
{
  FILE *file = fopen("/proc/uptime", "r");
  if(file == NULL) return 0;

  char line[UPTIME_LINE_SIZE];
  dword ticks = fgets(line, sizeof(line), file) != NULL ? UptimeTicks(line) : 0;
  fclose(file);
  return ticks;
}
