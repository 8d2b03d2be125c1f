#include "firmware.h"

#include <stddef.h>

#define DAY_FIRST 1
#define DAY_LAST 31
#define MONTH_FIRST 1
#define MONTH_LAST 12

dword FirmwareDatMJD(void)
{
  byte *header;
  if(!LoadFirmwareDat(&header, NULL, NULL)) return 0;

  // A day or month no calendar has says nothing about the file's age: 0 lets
  // the caller refuse the file, where the host's arithmetic would turn it
  // into some day that might pass for a recent one.
  byte day = header[FIRMWARE_DAT_DAY_OFFSET];
  byte month = header[FIRMWARE_DAT_MONTH_OFFSET];
  if(day < DAY_FIRST || day > DAY_LAST || month < MONTH_FIRST || month > MONTH_LAST) return 0;

  int mjd = TAP_MakeMjd(FirmwareDatWord(header + FIRMWARE_DAT_YEAR_OFFSET), month, day);
  return mjd > 0 ? (dword)mjd : 0;
}
