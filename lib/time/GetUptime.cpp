#include "time.h"

#include <locale.h>
#include <stdio.h>

// /proc/uptime holds "seconds.hundredths idle.hundredths".
#define UPTIME_LINE_SIZE 4096

dword GetUptime(void)
{
  FILE *file = fopen("/proc/uptime", "r");
  if(file == NULL) return 0;

  char line[UPTIME_LINE_SIZE];
  if(fgets(line, sizeof(line), file) == NULL)
  {
    fclose(file);
    return 0;
  }

  // The kernel writes a decimal point whatever the firmware's locale says.
  double seconds = 0.0;
  setlocale(LC_NUMERIC, "C");
  int converted = sscanf(line, "%lf", &seconds);
  setlocale(LC_NUMERIC, "");
  fclose(file);
  if(converted != 1) return 0;

  // Converting a double of 2^31 or more straight to an integer is undefined
  // on some CPUs; take bit 31 off first and put it back afterwards.
  double ticks = seconds * 100.0;
  if(!(ticks >= 0.0)) return 0;
  if(ticks >= 4294967296.0) ticks = 4294967295.0;
  if(ticks >= 2147483648.0) return (dword)(int)(ticks - 2147483648.0) | 0x80000000u;
  return (dword)(int)ticks;
}
