#include "log.h"

#include <stddef.h>

void *TAP_MemAlloc_Chk(const char *caller, int size)
{
  void *block = TAP_MemAlloc((dword)size);
  if(block == NULL && caller != NULL)
    LogEntryLibPrintf(1, "TAP_MemAlloc_Chk Warning: TAP_MemAlloc(%d) returned NULL pointer @ %s", size, caller);
  return block;
}
