// Objects inside the running firmware that the plug-in reaches by symbol
// name (lib/firmware), and the layout it relies on.
//
// Firmware words are pointer-sized: on the 32-bit receiver a task row is
// eleven 4-byte words (44 bytes) with the event handler at byte 20 and the
// folder object at byte 40; the emulator on a 64-bit PC keeps the same word
// indices with 8-byte words, so the same code reads both exactly.
#ifndef BRIMVALE_HOST_FIRMWARE_H
#define BRIMVALE_HOST_FIRMWARE_H

#include <stdint.h>

typedef uintptr_t FirmwareWord;

// Exported symbol names of the firmware objects.
#define FW_SYM_EEPROM "_applEepromAddr"            // holds a pointer to the EEPROM image
#define FW_SYM_TIMER "_timer"                      // holds a pointer to the timer table
#define FW_SYM_TIMER_EDIT "_timerEditInfo"         // one timer slot
#define FW_SYM_TIMER_TEMP "_timerTempInfo"         // the next timer slot
#define FW_SYM_UTF8 "_Z26Appl_ConvertToValidUTF8StrPhi"  // firmware text routine
#define FW_SYM_TAP_TABLE "_tapTask"                // the plug-in task table
#define FW_SYM_CUR_TAP_TASK "_curTapTask"          // uint32 index of our row

// The plug-in task table.
#define TAP_TASK_ROW_WORDS 11
#define TAP_TASK_HANDLER_WORD 5   // byte 20 on the receiver: event handler entry
#define TAP_TASK_FOLDER_WORD 10   // byte 40 on the receiver: current-folder object

// The current-folder object: word 1 (byte 4 on the receiver) points to the
// folder's Linux path, "/mnt/hd" followed by the folder in host notation.
#define TAP_FOLDER_PATH_WORD 1
#define TAP_FOLDER_WORDS 4
#define TAP_FOLDER_LINUX_PREFIX "/mnt/hd"
#define TAP_FOLDER_LINUX_PREFIX_LEN 7

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(TAP_TASK_ROW_WORDS * sizeof(FirmwareWord) == 44, "task row is 44 bytes");
static_assert(TAP_TASK_HANDLER_WORD * sizeof(FirmwareWord) == 20, "handler at byte 20");
static_assert(TAP_TASK_FOLDER_WORD * sizeof(FirmwareWord) == 40, "folder object at byte 40");
static_assert(TAP_FOLDER_PATH_WORD * sizeof(FirmwareWord) == 4, "folder path at byte 4");
#endif

#endif
