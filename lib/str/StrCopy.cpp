#include "str.h"

#include <string.h>

int StrCopy(char *dst, size_t size, const char *src)
{
  if(dst == NULL || size == 0) return 0;
  if(src == NULL)
  {
    dst[0] = '\0';
    return 0;
  }
  size_t len = strlen(src);
  if(len < size)
  {
    memcpy(dst, src, len + 1);
    return 1;
  }
  memcpy(dst, src, size - 1);
  dst[size - 1] = '\0';
  return 0;
}
