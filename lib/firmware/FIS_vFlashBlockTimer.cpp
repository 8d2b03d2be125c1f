#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *FIS_vFlashBlockTimer(void)
{
  static void *address;
  const FirmwareWord *variable = (const FirmwareWord *)ResolveCached(&address, FW_SYM_TIMER);
  if(variable == NULL) return NULL;
  // The firmware may move the object: read the stored pointer every time.
  return (void *)*variable;
}
