#include "str.h"

#include <stdio.h>

int StrFormatV(char *dst, size_t size, const char *fmt, va_list args)
{
  if(dst == NULL || size == 0) return 0;
  if(fmt == NULL)
  {
    dst[0] = '\0';
    return 0;
  }
  int n = vsnprintf(dst, size, fmt, args);
  if(n < 0)
  {
    dst[0] = '\0';
    return 0;
  }
  return (size_t)n < size;
}
