#include "firmware.h"

#include <stddef.h>

byte *FirmwareDatFindReceiver(int systemId)
{
  byte *receivers;
  byte *end;
  if(!LoadFirmwareDat(NULL, &receivers, &end)) return NULL;

  // A model listed twice is decided by its first record.
  for(byte *record = receivers; record < end; record += FIRMWARE_DAT_RECORD_SIZE)
    if((int)FirmwareDatWord(record + FIRMWARE_DAT_SYSTEM_ID_OFFSET) == systemId) return record;
  return NULL;
}
