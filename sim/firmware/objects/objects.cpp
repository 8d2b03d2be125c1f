// Stand-ins for objects inside the receiver's firmware. Each one is built
// into a shared object of its own, which the emulator loads into the global
// symbol scope when the emulated firmware has it; so a firmware that lacks any
// of them is just a receiver without that file loaded.
#include <stdint.h>

#include "../../../host/firmware.h"

#define FW_EXPORT __attribute__((visibility("default")))

extern "C" {

#ifdef FW_EEPROM
FW_EXPORT void *_applEepromAddr = 0;
#endif

#ifdef FW_TIMER
FW_EXPORT void *_timer = 0;
#endif

// The two timer work areas lie one slot apart (built with
// -fno-toplevel-reorder so they stay in the order written).
#ifndef FW_TIMER_SLOT
#define FW_TIMER_SLOT 200
#endif
#ifdef FW_TIMER_EDIT
FW_EXPORT __attribute__((section(".data.fwtimer"), aligned(8))) unsigned char _timerEditInfo[FW_TIMER_SLOT] = {1};
#endif
#ifdef FW_TIMER_TEMP
FW_EXPORT __attribute__((section(".data.fwtimer"), aligned(8))) unsigned char _timerTempInfo[FW_TIMER_SLOT] = {1};
#endif

}  // extern "C"

#ifdef FW_UTF8
// Only the presence of this routine matters to the plug-in.
__attribute__((visibility("default"))) void Appl_ConvertToValidUTF8Str(unsigned char *text, int size)
{
  (void)text;
  (void)size;
}
#endif

extern "C" {

#ifdef FW_TAP_TABLE
#define FW_TAP_ROWS 8
FW_EXPORT FirmwareWord _tapTask[FW_TAP_ROWS * TAP_TASK_ROW_WORDS];
#endif

#ifdef FW_CUR_TAP_TASK
FW_EXPORT uint32_t _curTapTask = 0;
#endif

}  // extern "C"
