#include "ini.h"

#include <string.h>
#include <strings.h>

// The C locale's case tables: settings keys are ASCII.
static char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }
static char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

char *stricstr(const char *text, const char *pattern)
{
  if(text == NULL || pattern == NULL) return NULL;
  text = SkipCharTableBytes(text);
  pattern = SkipCharTableBytes(pattern);
  if(pattern[0] == '\0') return NULL;

  char upper = AsciiUpper(pattern[0]);
  char lower = AsciiLower(pattern[0]);
  size_t rest = strlen(pattern + 1);
  for(; *text != '\0'; text++)
  {
    if((*text == upper || *text == lower) && strncasecmp(text + 1, pattern + 1, rest) == 0) return (char *)text;
  }
  return NULL;
}
