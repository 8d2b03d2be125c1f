#include "ini.h"

#include <string.h>

#include "../paths/paths.h"
#include "ini_internal.h"

// 512 × (L / 512 + 2) must fit in 32 bits, or the buffer would come out
// smaller than the file.
#define INI_MAX_FILE_BLOCKS ((dword)-1 / INI_BUFFER_BLOCK - INI_LOAD_SLACK_BLOCKS)

static int Allocate(dword size)
{
  char *buffer = (char *)TAP_MemAlloc(size);
  if(buffer == NULL) return 0;
  memset(buffer, 0, size);
  INIBuffer = buffer;
  BufferSize = size;
  return 1;
}

// Reads the whole file; 1 with the text in the buffer, 0 with no buffer.
static int Load(TYPE_File *file)
{
  dword length = TAP_Hdd_Flen(file);
  if(length / INI_BUFFER_BLOCK > INI_MAX_FILE_BLOCKS) return 0;
  if(!Allocate(INI_BUFFER_BLOCK * (length / INI_BUFFER_BLOCK + INI_LOAD_SLACK_BLOCKS))) return 0;

  if(length > 0)
  {
    // A partly read text must neither answer reads nor be saved over the file.
    if(TAP_Hdd_Fread(INIBuffer, length, 1, file) == 0)
    {
      INICloseFile();
      return 0;
    }
    // The text ends at a zero byte; what follows it would otherwise reappear
    // behind the next change.
    dword textLength = (dword)strlen(INIBuffer);
    memset(INIBuffer + textLength, 0, length - textLength);
  }

  // Appended entries must start on a line of their own.
  dword textLength = (dword)strlen(INIBuffer);
  char last = textLength > 0 ? INIBuffer[textLength - 1] : '\0';
  if(last != '\r' && last != '\n') memcpy(INIBuffer + textLength, INI_LINE_END, INI_LINE_END_LENGTH);
  return 1;
}

// Back to the caller's folder: our own stack entry, or the folder kept in
// `saved` when the stack had no room for one.
static void GoBack(int pushed, const char *saved)
{
  if(pushed)
    HDD_TAP_PopDir();
  else if(saved[0] != '\0')
    HDD_ChangeDir(saved);
}

IniLocation INIOpenFile(const char *fileName, const char *appName)
{
  // Only one file is open at a time; a buffer still open would be lost.
  INICloseFile();
  // A file without a name is found nowhere: the caller gets the empty
  // buffer of a new file, as for any other file that is not there.
  if(fileName == NULL || fileName[0] == '\0') return Allocate(INI_BUFFER_BLOCK) ? IniLoc_New : IniLoc_None;

  // A failed push must not be answered by a pop: that would take the
  // caller's own saved folder. The folder is kept here instead.
  char saved[PATH_BUFFER_SIZE];
  saved[0] = '\0';
  int pushed = HDD_TAP_PushDir();
  if(!pushed) HDD_TAP_GetCurrentDir(saved);
  IniLocation location = INILocateFile(fileName, appName);
  if(location == IniLoc_None)
  {
    GoBack(pushed, saved);
    return Allocate(INI_BUFFER_BLOCK) ? IniLoc_New : IniLoc_None;
  }

  int loaded = 0;
  TYPE_File *file = TAP_Hdd_Fopen(fileName);
  if(file != NULL)
  {
    loaded = Load(file);
    TAP_Hdd_Fclose(file);
  }
  GoBack(pushed, saved);
  return loaded ? location : IniLoc_None;
}
