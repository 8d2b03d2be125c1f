#include "ini.h"

#include "../str/str.h"
#include "ini_internal.h"

void INISetInt(const char *key, int value)
{
  char text[INI_INT_TEXT_SIZE];
  StrFormat(text, sizeof(text), "%d", value);
  INISetString(key, text);
}
