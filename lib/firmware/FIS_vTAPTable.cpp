#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *FIS_vTAPTable(void)
{
  static void *address;
  return ResolveCached(&address, FW_SYM_TAP_TABLE);
}
