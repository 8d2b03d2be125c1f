#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *FIS_vCurTapTask(void)
{
  static void *address;
  return ResolveCached(&address, FW_SYM_CUR_TAP_TASK);
}
