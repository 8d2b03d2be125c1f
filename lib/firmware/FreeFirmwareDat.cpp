#include "firmware.h"

#include <stddef.h>

#include "firmware_dat_internal.h"

void FreeFirmwareDat(void)
{
  if(FWDATBin == NULL) return;
  TAP_MemFree(FWDATBin);
  FWDATBin = NULL;
  FWDATLength = 0;
}
