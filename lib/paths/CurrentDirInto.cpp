#include "paths_internal.h"

#include <stdint.h>

#include "../firmware/firmware.h"
#include "../str/str.h"

int CurrentDirInto(char *dest, size_t size)
{
  if(dest != NULL && size != 0) dest[0] = '\0';

  const FirmwareWord *table = (const FirmwareWord *)FIS_vTAPTable();
  const uint32_t *slot = (const uint32_t *)FIS_vCurTapTask();
  if(table == NULL || slot == NULL) return CURRENT_DIR_UNREACHABLE;

  const FirmwareWord *row = table + (size_t)*slot * TAP_TASK_ROW_WORDS;
  const FirmwareWord *folder = (const FirmwareWord *)row[TAP_TASK_FOLDER_WORD];
  if(folder == NULL) return 0;
  const char *linuxPath = (const char *)folder[TAP_FOLDER_PATH_WORD];
  if(linuxPath == NULL || dest == NULL) return 0;

  // The firmware keeps the Linux form; the TAP form is what follows "/mnt/hd".
  const char *tapPath = linuxPath;
  for(int k = 0; k < TAP_FOLDER_LINUX_PREFIX_LEN && *tapPath != '\0'; k++) tapPath++;

  // A cut folder would name a different one: refuse rather than shorten.
  if(!StrCopy(dest, size, tapPath))
  {
    dest[0] = '\0';
    return CURRENT_DIR_TOO_LONG;
  }
  return 0;
}
