#include "paths_internal.h"

#include <string.h>

#include "../str/str.h"

int CloseDir(char *text, size_t size)
{
  size_t length = strlen(text);
  if(length != 0 && text[length - 1] == '/') return 1;
  return StrAppend(text, size, "/");
}
