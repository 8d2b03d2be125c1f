#include "firmware.h"
#include "firmware_internal.h"

#include <stddef.h>

void *ResolveCached(void **cache, const char *name)
{
  if(*cache == NULL) *cache = TryResolve(name);
  return *cache;
}
