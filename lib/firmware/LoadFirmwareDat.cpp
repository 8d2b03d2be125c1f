#include "firmware.h"

#include <limits.h>
#include <stddef.h>

#include "../ini/ini.h"
#include "../log/log.h"
#include "../paths/paths.h"
#include "firmware_dat_internal.h"

#define LOADER_NAME "LoadFirmwareDat"  // names us in the allocation warning
#define INVALID_IMAGE (-1)

// The receiver records of the image, or INVALID_IMAGE.
static int CountReceivers(const byte *image, dword length)
{
  if(length < FIRMWARE_DAT_HEADER_SIZE) return INVALID_IMAGE;
  if(FirmwareDatDword(image) != FIRMWARE_DAT_MAGIC) return INVALID_IMAGE;
  if(FirmwareDatDword(image + FIRMWARE_DAT_RESERVED_OFFSET) != 0) return INVALID_IMAGE;

  // A negative count lists no receivers; taken as it stands it would put the
  // end of the table before the start of the image.
  int count = (int)FirmwareDatDword(image + FIRMWARE_DAT_COUNT_OFFSET);
  if(count <= 0) return 0;
  // Divided, not multiplied: a huge count must not wrap round into a fit.
  if((dword)count > (length - FIRMWARE_DAT_HEADER_SIZE) / FIRMWARE_DAT_RECORD_SIZE) return INVALID_IMAGE;
  return count;
}

// Reads the open file whole into FWDATBin; nothing is kept when it fails.
static void ReadImage(TYPE_File *file)
{
  dword length = TAP_Hdd_Flen(file);
  // Shorter than its header it is no description file, and the allocator
  // takes a signed size.
  if(length < FIRMWARE_DAT_HEADER_SIZE || length > (dword)INT_MAX) return;

  byte *image = (byte *)TAP_MemAlloc_Chk(LOADER_NAME, (int)length);
  if(image == NULL) return;
  if(TAP_Hdd_Fread(image, length, 1, file) == 0)
  {
    TAP_MemFree(image);
    return;
  }
  FWDATBin = image;
  FWDATLength = length;
}

// Finds the file where the settings search looks and reads it. The search
// leaves the file's folder current, so the caller's folder is saved first.
static void LoadImage(void)
{
  // A refused push must not be answered by a pop, which would take somebody
  // else's saved folder: then the folder is kept here instead.
  char saved[PATH_BUFFER_SIZE];
  saved[0] = '\0';
  int pushed = HDD_TAP_PushDir();
  if(!pushed) HDD_TAP_GetCurrentDir(saved);

  if(INILocateFile(FIRMWARE_DAT_NAME, NULL) != IniLoc_None)
  {
    TYPE_File *file = TAP_Hdd_Fopen(FIRMWARE_DAT_NAME);
    if(file != NULL)
    {
      ReadImage(file);
      TAP_Hdd_Fclose(file);
    }
  }

  if(pushed)
    HDD_TAP_PopDir();
  else if(saved[0] != '\0')
    HDD_ChangeDir(saved);
}

int LoadFirmwareDat(byte **header, byte **receivers, byte **rest)
{
  if(FWDATBin == NULL) LoadImage();
  if(FWDATBin == NULL) return 0;

  // Checked on every call: callers hold the image writable, and everything
  // read from it later is bounded by what passes here.
  int count = CountReceivers(FWDATBin, FWDATLength);
  if(count == INVALID_IMAGE)
  {
    TAP_MemFree(FWDATBin);
    FWDATBin = NULL;
    FWDATLength = 0;
    return 0;
  }

  byte *table = FWDATBin + FIRMWARE_DAT_HEADER_SIZE;
  if(header != NULL) *header = FWDATBin;
  if(receivers != NULL) *receivers = table;
  if(rest != NULL) *rest = table + (size_t)count * FIRMWARE_DAT_RECORD_SIZE;
  return 1;
}
