#include "ini.h"

#include <string.h>

#include "ini_internal.h"

void INIFindStartEnd(const char *entryKey, char **start, char **end, dword maxLength)
{
  if(start == NULL || end == NULL || maxLength == 0) return;
  *start = NULL;
  *end = NULL;
  if(INIBuffer == NULL) return;

  // "#key=" and ";key=" are switched-off entries; "# key=" is not.
  char *hit = stricstr(INIBuffer, entryKey);
  while(hit != NULL && hit > INIBuffer && (hit[-1] == '#' || hit[-1] == ';')) hit = stricstr(hit + 1, entryKey);
  if(hit == NULL) return;
  *start = hit;

  // Lines end in CR LF, CR or LF. Whichever comes first ends the value: a CR
  // further on belongs to a later line.
  char *lineEnd = strchr(hit, '\r');
  char *lf = strchr(hit, '\n');
  if(lf != NULL && (lineEnd == NULL || lf < lineEnd)) lineEnd = lf;
  // No line end, or one inside the matched key text itself: no value.
  if(lineEnd == NULL || lineEnd == hit) return;

  char *last = lineEnd - 1;
  if((size_t)(last - hit) >= maxLength) last = hit + maxLength - 1;
  *end = last;
}
