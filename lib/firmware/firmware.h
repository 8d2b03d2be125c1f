// Objects inside the running firmware, found by symbol name at run time.
// Each accessor looks its symbol up on first use and keeps the address; a
// miss is retried on the next call. Null means the firmware lacks the object.
#ifndef BRIMVALE_LIB_FIRMWARE_H
#define BRIMVALE_LIB_FIRMWARE_H

#include "../../host/firmware.h"

// Address of a symbol in the running firmware's global scope, or null.
void *TryResolve(const char *name);

// The EEPROM image: the pointer stored in the firmware variable, read afresh
// on every call (null while the variable holds null).
void *FIS_vEEPROM(void);
// The timer table: likewise the pointer stored in the firmware variable.
void *FIS_vFlashBlockTimer(void);
// Two consecutive timer slots; their distance is the size of one slot.
void *FIS_vTimerEditInfo(void);
void *FIS_vTimerTempInfo(void);
// The firmware's UTF-8 text routine; only its presence matters.
void *FIS_fwAppl_ConvertToValidUTF8Str(void);
// The plug-in task table (rows of TAP_TASK_ROW_WORDS firmware words).
void *FIS_vTAPTable(void);
// The uint32 index of this plug-in's row in the task table.
void *FIS_vCurTapTask(void);

#endif
