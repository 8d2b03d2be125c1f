#include "ini.h"

#include <string.h>

#include "../paths/paths.h"
#include "../str/str.h"
#include "ini_internal.h"

// The complete text goes here first, beside the file it is to replace.
#define INI_SPARE_SUFFIX ".new"

static int EnterOrCreate(const char *folder)
{
  if(!TAP_Hdd_Exist(folder)) TAP_Hdd_Create(folder, ATTR_FOLDER);
  return HDD_ChangeDir(folder);
}

static int EnterFolder(IniLocation location, const char *appName)
{
  if(location == IniLoc_CurrentDir) return 1;
  if(!HDD_ChangeDir(INI_PROGRAM_FILES)) return 0;
  if(location == IniLoc_ProgramFiles) return 1;
  if(!EnterOrCreate(INI_SETTINGS)) return 0;
  if(location == IniLoc_Settings) return 1;
  return EnterOrCreate(appName);
}

static int WriteWhole(const char *name, const char *text, dword length)
{
  TAP_Hdd_Delete(name);
  TAP_Hdd_Create(name, ATTR_NORMAL);
  TYPE_File *file = TAP_Hdd_Fopen(name);
  if(file == NULL) return 0;
  // An empty text is complete without a write (one of 0 bytes counts nothing).
  int complete = length == 0 || TAP_Hdd_Fwrite(text, length, 1, file) == 1;
  TAP_Hdd_Fclose(file);
  return complete;
}

// The host can neither rename nor truncate, so the old file has to be
// deleted before it is written anew. It goes only after a spare copy of the
// new text has been written completely: a full disk then keeps the old file,
// and a failure after that point keeps the new text in the spare copy.
static int Replace(const char *fileName)
{
  char spare[PATH_BUFFER_SIZE];
  if(!StrFormat(spare, sizeof(spare), "%s%s", fileName, INI_SPARE_SUFFIX)) return 0;

  dword length = (dword)strnlen(INIBuffer, BufferSize);
  if(!WriteWhole(spare, INIBuffer, length))
  {
    TAP_Hdd_Delete(spare);
    return 0;
  }
  if(!WriteWhole(fileName, INIBuffer, length)) return 0;
  TAP_Hdd_Delete(spare);
  return 1;
}

int INISaveFile(const char *fileName, IniLocation location, const char *appName)
{
  if(INIBuffer == NULL || fileName == NULL || fileName[0] == '\0') return 0;
  if((dword)location > IniLoc_ProgramFiles) return 0;
  // The application folder lies inside Settings, where INILocateFile looks
  // for it; an absolute name would put the file where it is never found.
  if(location == IniLoc_AppFolder && (appName == NULL || appName[0] == '\0' || appName[0] == '/')) return 0;
  if(location == IniLoc_None || location == IniLoc_New) location = IniLoc_ProgramFiles;

  // Back to the caller's folder afterwards: through our own stack entry, or
  // when the stack is full, through the folder kept here.
  char back[PATH_BUFFER_SIZE];
  back[0] = '\0';
  int pushed = HDD_TAP_PushDir();
  if(!pushed) HDD_TAP_GetCurrentDir(back);
  int saved = EnterFolder(location, appName) && Replace(fileName);
  if(pushed)
    HDD_TAP_PopDir();
  else if(back[0] != '\0')
    HDD_ChangeDir(back);
  return saved;
}
