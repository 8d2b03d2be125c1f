#include "str.h"

int StrFormat(char *dst, size_t size, const char *fmt, ...)
{
  va_list args;
  va_start(args, fmt);
  int ok = StrFormatV(dst, size, fmt, args);
  va_end(args);
  return ok;
}
