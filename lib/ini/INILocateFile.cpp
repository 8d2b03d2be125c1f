#include "ini.h"

#include "../paths/paths.h"
#include "../str/str.h"
#include "ini_internal.h"

IniLocation INILocateFile(const char *fileName, const char *appName)
{
  if(fileName == NULL || fileName[0] == '\0') return IniLoc_None;
  if(TAP_Hdd_Exist(fileName)) return IniLoc_CurrentDir;

  // Where to go back to: the caller's folder until a find replaces it. An
  // unreadable folder stays empty, and we then stay where the search ended.
  char back[PATH_BUFFER_SIZE];
  HDD_TAP_GetCurrentDir(back);

  // Each deeper find wins over the one before.
  IniLocation found = IniLoc_None;
  if(HDD_ChangeDir(INI_PROGRAM_FILES))
  {
    if(TAP_Hdd_Exist(fileName))
    {
      found = IniLoc_ProgramFiles;
      StrCopy(back, sizeof(back), INI_PROGRAM_FILES);
    }
    if(HDD_ChangeDir(INI_SETTINGS))
    {
      if(TAP_Hdd_Exist(fileName))
      {
        found = IniLoc_Settings;
        StrCopy(back, sizeof(back), INI_SETTINGS_PATH);
      }
      // The application folder lies inside Settings: an absolute name would
      // lead anywhere.
      if(appName != NULL && appName[0] != '\0' && appName[0] != '/' && HDD_ChangeDir(appName) &&
         TAP_Hdd_Exist(fileName))
        return IniLoc_AppFolder;
    }
  }

  if(back[0] != '\0') HDD_ChangeDir(back);
  return found;
}
