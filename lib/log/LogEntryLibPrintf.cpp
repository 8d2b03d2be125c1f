#include "log.h"

#include <stdarg.h>
#include <string.h>

#include "../paths/paths.h"
#include "../str/str.h"
#include "../time/time.h"

#define SETTINGS_NAME "Settings"

static void EnterLogFolder(void)
{
  if(HDD_ChangeDir(LIB_LOG_FOLDER)) return;

  // A fresh disk has no settings folder yet: make it where it belongs. If even
  // /ProgramFiles is out of reach the entry lands in the folder we are in.
  HDD_ChangeDir(PROGRAM_FOLDER);
  if(!TAP_Hdd_Exist(SETTINGS_NAME)) TAP_Hdd_Create(SETTINGS_NAME, ATTR_FOLDER);
  HDD_ChangeDir(SETTINGS_NAME);
}

static void AppendPiece(TYPE_File *file, const char *text)
{
  dword length = (dword)strlen(text);
  if(length != 0) TAP_Hdd_Fwrite(text, length, 1, file);
}

void LogEntryLibPrintf(int echo, const char *fmt, ...)
{
  if(fmt == NULL) return;

  // Longer messages are cut on purpose: one entry is one line of bounded size.
  char message[LOG_MESSAGE_SIZE];
  va_list args;
  va_start(args, fmt);
  StrFormatV(message, sizeof(message), fmt, args);
  va_end(args);

  // Only a push that took place may be popped: popping after a refused push
  // would send the caller of our caller to the wrong folder. With the stack
  // full the caller's folder is kept here instead, to go back to all the same.
  char saved[PATH_BUFFER_SIZE];
  saved[0] = '\0';
  int pushed = HDD_TAP_PushDir();
  if(!pushed) HDD_TAP_GetCurrentDir(saved);
  EnterLogFolder();

  char stamp[TIME_STAMP_SIZE];
  byte seconds = 0;
  PackedDateTime now = Now(&seconds);
  StrCopy(stamp, sizeof(stamp), TimeFormat(now, seconds, 5));
  StrAppend(stamp, sizeof(stamp), " ");

  if(!TAP_Hdd_Exist(LIB_LOG_FILE_NAME)) TAP_Hdd_Create(LIB_LOG_FILE_NAME, ATTR_NORMAL);
  TYPE_File *file = TAP_Hdd_Fopen(LIB_LOG_FILE_NAME);
  if(file != NULL)
  {
    TAP_Hdd_Fseek(file, 0, SEEK_ORIGIN_END);
    AppendPiece(file, stamp);
    AppendPiece(file, message);
    AppendPiece(file, "\r\n");
    TAP_Hdd_Fclose(file);
  }

  // The echo goes out even when the file could not be written: it may be the
  // only trace of the trouble.
  if(echo)
  {
    StrFormat(puffer, sizeof(puffer), "%s SUPPORTLIB - %s\n", stamp, message);
    PrintNet(puffer);
  }

  if(pushed)
    HDD_TAP_PopDir();
  else if(saved[0] != '\0')
    HDD_ChangeDir(saved);
}
