#include "ini.h"

#include <stdint.h>

#include "ini_internal.h"

static int IsDigit(char c) { return c >= '0' && c <= '9'; }

int INIGetInt(const char *key, int defaultValue, int minValue, int maxValue)
{
  if(key == NULL) return 0;

  IniEntry entry;
  if(INIFindEntry(key, INI_INT_DIGITS, &entry) != INI_ENTRY_FOUND || entry.valueLength == 0) return defaultValue;

  // Only a plain decimal counts: no sign but a leading "-", no spaces, no hex.
  const char *text = entry.value;
  dword examined = entry.valueLength < INI_INT_DIGITS ? entry.valueLength : INI_INT_DIGITS;
  for(dword k = 0; k < examined; k++)
  {
    if(k == 0 && text[0] == '-' && examined > 1) continue;
    if(!IsDigit(text[k])) return defaultValue;
  }

  // Digits run on past the examined ones until the first non-digit. A number
  // beyond 32 bits is pinned to the end of the range on its own side, so
  // that the clamp below sends it to the nearer limit, not the far one.
  int negative = text[0] == '-';
  uint64_t bound = negative ? (uint64_t)INT32_MAX + 1 : (uint64_t)INT32_MAX;
  uint64_t magnitude = 0;
  for(const char *p = text + negative; IsDigit(*p); p++)
  {
    magnitude = magnitude * 10 + (uint64_t)(*p - '0');
    if(magnitude > bound) magnitude = bound;
  }
  int64_t number = negative ? -(int64_t)magnitude : (int64_t)magnitude;

  if(number < minValue) return minValue;
  if(number > maxValue) return maxValue;
  return (int)number;
}
