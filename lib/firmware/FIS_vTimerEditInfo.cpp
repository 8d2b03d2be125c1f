#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *FIS_vTimerEditInfo(void)
{
  static void *address;
  return ResolveCached(&address, FW_SYM_TIMER_EDIT);
}
