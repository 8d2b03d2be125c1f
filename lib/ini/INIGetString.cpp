#include "ini.h"

#include <string.h>

#include "../str/str.h"
#include "ini_internal.h"

int INIGetString(const char *key, char *value, const char *defaultValue, dword size)
{
  if(value == NULL || size == 0) return 0;
  if(key == NULL || defaultValue == NULL)
  {
    value[0] = '\0';
    return 0;
  }

  IniEntry entry;
  if(INIFindEntry(key, size, &entry) == INI_ENTRY_FOUND && entry.valueLength > 0)
  {
    dword length = entry.valueLength < size - 1 ? entry.valueLength : size - 1;
    memcpy(value, entry.value, length);
    value[length] = '\0';
  }
  else
    StrCopy(value, size, defaultValue);
  return 1;
}
