#include "paths.h"

#include <string.h>

int StringEndsWith(const char *text, const char *suffix)
{
  if(text == NULL || suffix == NULL) return 0;
  size_t textLength = strlen(text);
  size_t suffixLength = strlen(suffix);
  if(textLength == 0 || suffixLength == 0 || suffixLength > textLength) return 0;
  return TAP_MemCmp(text + textLength - suffixLength, suffix, (dword)suffixLength) == 0;
}
