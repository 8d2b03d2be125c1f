#include "process.h"

#include <string.h>

#include "../host/shell.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "display.h"

#define PS_FILE "ps.txt"
#define PS_COMMAND "ps > /mnt/hd" SETTINGS_FOLDER "/" PS_FILE
// ps prints the process number first on each process line, after blanks
// that right-align it; how wide its column is and where the command starts
// differ between the receiver's ps, busybox and procps.
#define PID_MAX_DIGITS 9
// The list is read whole into twice its length; a longer one is not read.
#define PS_MAX_BYTES 0x100000

// The process number at the start of the line that holds text[at]; 0 when
// that line does not start with one (the header, a wrapped command line):
// guessing from a neighbouring line would signal some other process.
static int ProcessNumber(const char *text, const char *at)
{
  const char *p = at;
  while(p > text && p[-1] != '\n') p--;
  while(*p == ' ' || *p == '\t') p++;
  int number = 0, digits = 0;
  for(; *p >= '0' && *p <= '9'; p++, digits++)
  {
    if(digits == PID_MAX_DIGITS) return 0;
    number = number * 10 + (*p - '0');
  }
  return digits > 0 && (*p == ' ' || *p == '\t') ? number : 0;
}

static int Fail(const char *english, const char *german, int status, int withStatus)
{
  const char *text = lang == LANGUAGE_GERMAN ? german : english;
  if(withStatus)
    StrFormat(LogBuffer, sizeof(LogBuffer), "%s: %d", text, status);
  else
    StrCopy(LogBuffer, sizeof(LogBuffer), text);
  ShowLog(LogBuffer, SHOW_ERROR_TICKS);
  return 0;
}

int getprocess(const char *pattern, int *pidOut, int *countOut, int mode)
{
  int status = ShellRun(PS_COMMAND);
  if(status != 0)
    return Fail("Could not read processlist", "Prozessliste konnten nicht gelesen werden", status, 1);

  HDD_ChangeDir(SETTINGS_FOLDER "/");
  TYPE_File *file = TAP_Hdd_Fopen(PS_FILE);
  if(file == NULL)
    return Fail("Could not read processlist file", "Prozesslistendatei konnten nicht gelesen werden", 0, 0);

  dword length = TAP_Hdd_Flen(file);
  char *list = length <= PS_MAX_BYTES ? (char *)TAP_MemAlloc(2 * length + 1) : NULL;
  int read = list != NULL && (length == 0 || TAP_Hdd_Fread(list, length, 1, file) == 1);
  TAP_Hdd_Fclose(file);
  TAP_Hdd_Delete(PS_FILE);
  if(!read)
  {
    // A list that cannot be buffered counts as one that could not be read.
    if(list != NULL) TAP_MemFree(list);
    return Fail("Could not read processlist file", "Prozesslistendatei konnten nicht gelesen werden", 0, 0);
  }
  list[length] = '\0';

  int count = 0;
  if(pattern != NULL && pattern[0] != '\0')
  {
    for(const char *at = strstr(list, pattern); at != NULL; at = strstr(at + 1, pattern))
    {
      if(mode == PROCESS_LAST || (mode == PROCESS_FIRST && count == 0)) *pidOut = ProcessNumber(list, at);
      count++;
    }
  }
  *countOut = count;
  TAP_MemFree(list);
  return 1;
}
