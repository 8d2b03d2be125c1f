#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *FIS_fwAppl_ConvertToValidUTF8Str(void)
{
  static void *address;
  return ResolveCached(&address, FW_SYM_UTF8);
}
