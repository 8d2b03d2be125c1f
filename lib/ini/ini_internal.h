// Shared by the INI store's functions only.
#ifndef BRIMVALE_LIB_INI_INTERNAL_H
#define BRIMVALE_LIB_INI_INTERNAL_H

#include "ini.h"

#define INI_ENTRY_KEY_SIZE (INI_KEY_LENGTH + 2)  // the key, "=", terminator
#define INI_BUFFER_BLOCK 512       // loaded buffers are whole blocks...
#define INI_LOAD_SLACK_BLOCKS 2    // ...with 512 to 1023 bytes to spare for changes
#define INI_GROWTH_STEP 1024       // a full buffer grows to the next multiple of this
#define INI_LINE_END "\r\n"
#define INI_LINE_END_LENGTH 2
#define INI_INT_DIGITS 11          // "-2147483648": all a 32-bit value needs
#define INI_INT_TEXT_SIZE (INI_INT_DIGITS + 1)
#define INI_PROGRAM_FILES "/ProgramFiles"
#define INI_SETTINGS "Settings"
#define INI_SETTINGS_PATH "/ProgramFiles/Settings"

// The open file's text, zero-terminated and followed by zero bytes up to
// BufferSize; null and 0 while no file is open.
extern char *INIBuffer;
extern dword BufferSize;

// An entry as INIGetString, INIGetInt and INISetString see it.
typedef struct {
  char key[INI_ENTRY_KEY_SIZE];  // the caller's key, cut, + "="
  dword keyLength;
  char *start;                   // first character of the matched key text
  char *value;                   // first character of the value
  dword valueLength;             // 0: empty; the line end follows the value
} IniEntry;

// Results of INIFindEntry.
#define INI_ENTRY_FOUND 1
#define INI_ENTRY_MISSING 0
#define INI_ENTRY_UNUSABLE (-1)  // null key, or one holding a line break

// Looks key up with INIFindStartEnd, examining at most valueLimit characters
// of the value. `entry` always receives the formed key; start, value and
// valueLength only when found.
int INIFindEntry(const char *key, dword valueLimit, IniEntry *entry);

#endif
