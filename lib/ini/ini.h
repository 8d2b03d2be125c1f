// Settings files of key=value lines, loaded whole into one buffer that the
// store owns between INIOpenFile and INICloseFile. One file is open at a time.
//
// Keys match without regard to ASCII case, anywhere in the text, unless a
// "#" or ";" stands directly before them; they are cut to INI_KEY_LENGTH
// characters. An empty value counts as missing.
#ifndef BRIMVALE_LIB_INI_H
#define BRIMVALE_LIB_INI_H

#include "../../host/tap.h"

#define INI_KEY_LENGTH 78  // longer keys are cut before "=" is added

// Where a settings file was found, and where INISaveFile puts it.
typedef enum {
  IniLoc_None = 0,          // not found (INILocateFile), failure (INIOpenFile)
  IniLoc_New = 1,           // found nowhere: an empty buffer was made (INIOpenFile)
  IniLoc_CurrentDir = 2,    // the current folder
  IniLoc_AppFolder = 3,     // "/ProgramFiles/Settings/" + application folder
  IniLoc_Settings = 4,      // "/ProgramFiles/Settings"
  IniLoc_ProgramFiles = 5,  // "/ProgramFiles"
} IniLocation;

// Loads fileName (searched as INILocateFile does; appName may be null) into
// the store's buffer: where it was found, IniLoc_New with an empty buffer
// when it is nowhere (a null or empty name included), IniLoc_None on failure
// (no buffer then). The current folder is the same on return.
IniLocation INIOpenFile(const char *fileName, const char *appName);

// Looks for fileName in the current folder, then "/ProgramFiles",
// "/ProgramFiles/Settings" and "/ProgramFiles/Settings/<appName>" (the last
// find wins): IniLoc_CurrentDir, _ProgramFiles, _Settings, _AppFolder or
// IniLoc_None. Leaves the folder that holds the file current (the caller's
// folder when nothing was found).
IniLocation INILocateFile(const char *fileName, const char *appName);

// The value of key, or defaultValue when the entry is missing or empty, into
// value of `size` bytes, cut to size - 1 characters and terminated. 1, or 0
// when key, value or defaultValue is null or size is 0 (value then empty if
// it can hold anything).
int INIGetString(const char *key, char *value, const char *defaultValue, dword size);

// The value of key as a decimal number, saturated to 32 bits and clamped to
// [minValue, maxValue]; defaultValue (not clamped) when the entry is missing,
// empty or not a plain decimal; 0 for a null key.
int INIGetInt(const char *key, int defaultValue, int minValue, int maxValue);

// Replaces the value of key, or appends "key=value" as a new line. Nothing
// changes when no file is open, on a null argument, when memory runs out, or
// when the text would need the buffer to grow by more than one step.
void INISetString(const char *key, const char *value);

// INISetString with value written as "%d".
void INISetInt(const char *key, int value);

// Writes the text to fileName in the folder `location` names (IniLoc_None
// and IniLoc_New mean IniLoc_ProgramFiles), creating the settings and
// application folders as needed. 1 when the whole text is in the file; 0
// otherwise, with an existing file left as it was. The buffer stays open.
int INISaveFile(const char *fileName, IniLocation location, const char *appName);

// Releases the buffer. Harmless when nothing is open.
void INICloseFile(void);

// Finds the entry whose text starts with entryKey (key + "=") in the buffer:
// *start = its first character, *end = the last character of the value (of
// the "=" when the value is empty), kept below *start + maxLength. Both null
// when there is none; nothing happens for a null out pointer or maxLength 0.
void INIFindStartEnd(const char *entryKey, char **start, char **end, dword maxLength);

// The first occurrence of pattern in text, ignoring ASCII case, after both
// have passed SkipCharTableBytes; null when none, or either is null or the
// pattern is empty.
char *stricstr(const char *text, const char *pattern);

// text past a leading character-table selector of broadcast text (never past
// its terminator); null for null.
const char *SkipCharTableBytes(const char *text);

#endif
