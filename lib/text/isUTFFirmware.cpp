#include "text.h"

#include "../firmware/firmware.h"

int isUTFFirmware(void)
{
  // The firmware does not change while the plug-in runs: ask once.
  static int firstCall = 1;
  static int ret;
  if(firstCall)
  {
    ret = FIS_fwAppl_ConvertToValidUTF8Str() != NULL;
    firstCall = 0;
  }
  return ret;
}
