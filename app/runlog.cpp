// The run log: one timestamped line per event in the Logs folder, kept to
// one current and one older file.
#include "runlog.h"

#include <string.h>

#include "../lib/firmware/firmware.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"

#define LOG_LINE_FORMAT "%02d.%02d.%04d %02d:%02d:%02d -> %s"
#define LOG_LINE_END "\r\n"
#define LOG_LINE_END_LENGTH 2

// Bytes copied at a time where the host cannot rename.
#define LOG_COPY_CHUNK 4096
static byte sCopyBuffer[LOG_COPY_CHUNK];

// Brimvale.log.1 (not there) made as a copy of Brimvale.log with the file
// calls every host has. 1 when every byte arrived.
static int CopyLog(void)
{
  TAP_Hdd_Create(LOG_OLD_FILE_NAME, ATTR_NORMAL);
  TYPE_File *from = TAP_Hdd_Fopen(LOG_FILE_NAME);
  TYPE_File *to = from != NULL ? TAP_Hdd_Fopen(LOG_OLD_FILE_NAME) : NULL;
  int ok = to != NULL;
  if(ok)
  {
    dword length = TAP_Hdd_Flen(from);
    for(dword done = 0; ok && done < length;)
    {
      dword chunk = length - done < LOG_COPY_CHUNK ? length - done : LOG_COPY_CHUNK;
      ok = TAP_Hdd_Fread(sCopyBuffer, chunk, 1, from) == 1 && TAP_Hdd_Fwrite(sCopyBuffer, chunk, 1, to) == 1;
      done += chunk;
    }
    ok = ok && TAP_Hdd_Flen(to) == length;
  }
  if(to != NULL) TAP_Hdd_Fclose(to);
  if(from != NULL) TAP_Hdd_Fclose(from);
  return ok;
}

// Brimvale.log becomes Brimvale.log.1, replacing an older one, and a new
// Brimvale.log is opened. Renamed where the host offers TAP_Hdd_Rename (only
// newer ones do, so it is looked up, never imported), else copied and
// removed: each line ends up in exactly one of the two files. When that
// fails the old log is opened again and grows on, as a line is worth more
// than the limit, but only up to LOG_GIVE_UP_BYTES: past that a new log
// begins all the same, so the recording disk never fills with it.
static TYPE_File *RotateLog(dword length)
{
  if(TAP_Hdd_Exist(LOG_OLD_FILE_NAME)) TAP_Hdd_Delete(LOG_OLD_FILE_NAME);
  TAP_Hdd_RenameFn *rename = (TAP_Hdd_RenameFn *)TryResolve(TAP_SYM_HDD_RENAME);
  int moved = 0;
  if(rename != NULL && *rename != NULL)
    moved = (*rename)(LOG_FILE_NAME, LOG_OLD_FILE_NAME);
  else
  {
    moved = CopyLog() && TAP_Hdd_Delete(LOG_FILE_NAME);
    // A part copy, or a copy beside a log that could not be removed, would
    // show its lines twice.
    if(!moved && TAP_Hdd_Exist(LOG_OLD_FILE_NAME)) TAP_Hdd_Delete(LOG_OLD_FILE_NAME);
  }
  if(!moved && length > LOG_GIVE_UP_BYTES) moved = TAP_Hdd_Delete(LOG_FILE_NAME);
  if(moved) TAP_Hdd_Create(LOG_FILE_NAME, ATTR_NORMAL);
  return TAP_Hdd_Fopen(LOG_FILE_NAME);
}

void WriteLog(const char *text)
{
  if(logfile != 1) return;

  word mjd = 0;
  byte hour = 0, minute = 0, second = 0, month = 0, day = 0, weekDay = 0;
  word year = 0;
  TAP_GetTime(&mjd, &hour, &minute, &second);
  TAP_ExtractMjd(mjd, &year, &month, &day, &weekDay);

  // A text too long for the line is cut, but the line keeps its end, or the
  // next one would be glued to it.
  char line[LOG_LINE_SIZE];
  StrFormat(line, sizeof(line) - LOG_LINE_END_LENGTH, LOG_LINE_FORMAT, day, month, year, hour, minute, second,
            text != NULL ? text : "");
  StrAppend(line, sizeof(line), LOG_LINE_END);

  // Without the Logs folder the log would land in whatever folder is current.
  if(!HDD_ChangeDir(LOG_FOLDER)) return;
  if(!TAP_Hdd_Exist(LOG_FILE_NAME)) TAP_Hdd_Create(LOG_FILE_NAME, ATTR_NORMAL);
  // Opened and closed for every line, so that each line is on disk at once.
  TYPE_File *file = TAP_Hdd_Fopen(LOG_FILE_NAME);
  if(file == NULL) return;
  dword length = TAP_Hdd_Flen(file);
  // The log lives on the recording disk: past its limit it is kept as the
  // one older log and a new one begins, with this line.
  if(length > LOG_ROTATE_BYTES)
  {
    TAP_Hdd_Fclose(file);
    file = RotateLog(length);
    if(file == NULL) return;
    length = TAP_Hdd_Flen(file);
  }
  TAP_Hdd_Fseek(file, (long)length, SEEK_ORIGIN_START);
  TAP_Hdd_Fwrite(line, (dword)strlen(line), 1, file);
  TAP_Hdd_Fclose(file);
}
