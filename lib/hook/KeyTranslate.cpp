#include "hook.h"

#include <stddef.h>
#include <stdint.h>

#include "../firmware/firmware.h"
#include "hook_internal.h"

int KeyTranslate(int install, TAP_EventHandlerFn handler)
{
  // Compared with the whole id: a receiver whose id does not fit the file's
  // 16 bits is not that listed model, and keeps the keys it has.
  const byte *record = FirmwareDatFindReceiver(TAP_GetSystemId());
  if(record != NULL) RemoteType = (int)FirmwareDatDword(record + FIRMWARE_DAT_REMOTE_TYPE_OFFSET);

  FirmwareWord *table = (FirmwareWord *)FIS_vTAPTable();
  const uint32_t *index = (const uint32_t *)FIS_vCurTapTask();
  if(table == NULL || index == NULL) return 0;
  FirmwareWord *entry = table + (size_t)*index * TAP_TASK_ROW_WORDS + TAP_TASK_HANDLER_WORD;
  FirmwareWord hook = (FirmwareWord)&KeyTranslateHook;

  if(install)
  {
    // Only in front of the handler the firmware really calls: anything else
    // (the hook itself above all) would leave the hook forwarding to itself.
    if(handler == NULL || *entry != (FirmwareWord)handler) return 0;
    // Remembered before the entry changes: the next event may come at once.
    Original_TAP_EventHandler = handler;
    *entry = hook;
    return 1;
  }

  if(*entry != hook) return 0;
  *entry = (FirmwareWord)Original_TAP_EventHandler;
  Original_TAP_EventHandler = NULL;
  return 1;
}
