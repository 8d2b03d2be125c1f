#include "str.h"

#include <string.h>

int StrAppend(char *dst, size_t size, const char *src)
{
  if(dst == NULL || size == 0) return 0;
  size_t used = strnlen(dst, size);
  // A destination without a terminator inside its size is itself an overrun:
  // terminate it and report the cut.
  if(used == size)
  {
    dst[size - 1] = '\0';
    return 0;
  }
  return StrCopy(dst + used, size - used, src);
}
