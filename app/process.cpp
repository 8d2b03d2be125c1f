#include "process.h"

#include <string.h>

#include "../host/shell.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"

#define PS_FILE "ps.txt"
#define PS_COMMAND "ps > /mnt/hd" SETTINGS_FOLDER "/" PS_FILE
#define KILL_COMMAND_SIZE 128
// The process number stands right-aligned in the first five columns; a
// name found at column 33 or later belongs to its own line.
#define PID_COLUMNS 5
#define LINE_LOOKBACK 34
// The list is read whole into twice its length; a longer one is not read.
#define PS_MAX_BYTES 0x100000

// The process number of the line that holds text[at].
static int ProcessNumber(const char *text, const char *at)
{
  // Compared as a distance: a pointer before the list's start is not one.
  const char *p = at - text < LINE_LOOKBACK ? text : at - LINE_LOOKBACK;
  while(p > text && *p != '\n') p--;
  if(*p == '\n') p++;
  int blanks = 0;
  while(p[blanks] == ' ') blanks++;
  int number = 0;
  for(int k = blanks; k < PID_COLUMNS && p[k] >= '0' && p[k] <= '9'; k++) number = number * 10 + (p[k] - '0');
  return number;
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

int killprocess(int process)
{
  // 0 and negative numbers name process groups: the firmware's own among them.
  if(process <= 0) return 0;
  char command[KILL_COMMAND_SIZE];
  if(!FormatCommand(command, sizeof(command), "kill -15 %d", process)) return 0;
  return ShellRun(command) == 0;
}
