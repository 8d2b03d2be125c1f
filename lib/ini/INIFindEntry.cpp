#include "ini_internal.h"

#include <string.h>

#include "../str/str.h"

int INIFindEntry(const char *key, dword valueLimit, IniEntry *entry)
{
  entry->key[0] = '\0';
  entry->keyLength = 0;
  entry->start = NULL;
  entry->value = NULL;
  entry->valueLength = 0;
  if(key == NULL) return INI_ENTRY_UNUSABLE;

  // Cutting long keys is what the stored files were written with.
  char cut[INI_KEY_LENGTH + 1];
  StrCopy(cut, sizeof(cut), key);
  // A key with a line break can never be one line's entry: it would split
  // into two lines on writing.
  if(strpbrk(cut, INI_LINE_END) != NULL) return INI_ENTRY_UNUSABLE;
  StrCopy(entry->key, sizeof(entry->key), cut);
  StrAppend(entry->key, sizeof(entry->key), "=");
  entry->keyLength = (dword)strlen(entry->key);

  dword limit = entry->keyLength + valueLimit;
  if(limit < valueLimit) limit = (dword)-1;
  char *start, *end;
  INIFindStartEnd(entry->key, &start, &end, limit);
  if(start == NULL || end == NULL) return INI_ENTRY_MISSING;

  // A leading character-table selector of the key is not part of the match.
  char *value = start + strlen(SkipCharTableBytes(entry->key));
  if(end + 1 < value) return INI_ENTRY_MISSING;
  entry->start = start;
  entry->value = value;
  entry->valueLength = (dword)(end + 1 - value);
  return INI_ENTRY_FOUND;
}
