#include "ini.h"

#include <stdint.h>
#include <string.h>

#include "ini_internal.h"

// The capacity that holds `needed` bytes: the current one, or one growth
// step above it. 0 when even that is too small: changes never grow the
// buffer by more than one step.
static dword CapacityFor(uint64_t needed)
{
  if(needed <= BufferSize) return BufferSize;
  uint64_t grown = ((uint64_t)BufferSize / INI_GROWTH_STEP + 1) * INI_GROWTH_STEP;
  return needed <= grown && grown <= (dword)-1 ? (dword)grown : 0;
}

static char *NewBuffer(dword size)
{
  char *buffer = (char *)TAP_MemAlloc(size);
  if(buffer != NULL) memset(buffer, 0, size);
  return buffer;
}

static void Adopt(char *buffer, dword size)
{
  TAP_MemFree(INIBuffer);
  INIBuffer = buffer;
  BufferSize = size;
}

void INISetString(const char *key, const char *value)
{
  if(key == NULL || value == NULL || INIBuffer == NULL) return;

  IniEntry entry;
  int found = INIFindEntry(key, BufferSize, &entry);
  if(found == INI_ENTRY_UNUSABLE) return;

  // A line break in the value would start a line of its own, an entry the
  // caller never set; the value ends where a read would end it.
  size_t valueLength = strcspn(value, INI_LINE_END);
  dword textLength = (dword)strnlen(INIBuffer, BufferSize);
  if(textLength >= BufferSize) return;

  if(found == INI_ENTRY_FOUND)
  {
    // Everything before the key text and from the old line end on stays.
    dword prefix = (dword)(entry.start - INIBuffer);
    const char *tail = entry.value + entry.valueLength;
    dword tailLength = textLength - (dword)(tail - INIBuffer);
    dword oldEntry = (dword)(tail - entry.start);
    // One byte beyond the terminator stays free: the buffer grows exactly
    // where it always did.
    uint64_t needed = (uint64_t)textLength - (oldEntry - 1) + entry.keyLength + valueLength + 1;
    dword size = CapacityFor(needed);
    if(size == 0) return;

    // Built in a fresh buffer so that a failed allocation leaves the old text whole.
    char *buffer = NewBuffer(size);
    if(buffer == NULL) return;
    char *p = buffer;
    memcpy(p, INIBuffer, prefix);
    p += prefix;
    memcpy(p, entry.key, entry.keyLength);
    p += entry.keyLength;
    memcpy(p, value, valueLength);
    p += valueLength;
    memcpy(p, tail, tailLength);
    Adopt(buffer, size);
    return;
  }

  uint64_t needed = (uint64_t)textLength + entry.keyLength + valueLength + INI_LINE_END_LENGTH + 1;
  dword size = CapacityFor(needed);
  if(size == 0) return;
  if(size != BufferSize)
  {
    char *buffer = NewBuffer(size);
    if(buffer == NULL) return;
    memcpy(buffer, INIBuffer, textLength);
    Adopt(buffer, size);
  }
  char *p = INIBuffer + textLength;
  memcpy(p, entry.key, entry.keyLength);
  p += entry.keyLength;
  memcpy(p, value, valueLength);
  p += valueLength;
  memcpy(p, INI_LINE_END, INI_LINE_END_LENGTH);
  p[INI_LINE_END_LENGTH] = '\0';
}
