#include "firmware.h"

#include <stddef.h>

#include "firmware_dat_internal.h"

dword GetSystemType(void)
{
  if(SystemType != ST_UNKNOWN) return SystemType;

  // A listed model without a type stays undetermined and is looked up again.
  const byte *record = FirmwareDatFindReceiver(GetSysID());
  if(record != NULL) SystemType = FirmwareDatDword(record + FIRMWARE_DAT_SYSTEM_TYPE_OFFSET);
  return SystemType;
}
