#include "paths.h"

#include <stddef.h>

#include "../../host/clib.h"
#include "../firmware/firmware.h"

// How this receiver's C library offers stat64; asked once, as the answer
// cannot change while the firmware runs.
typedef enum {
  STAT_UNKNOWN = 0,  // not asked yet
  STAT_DIRECT,       // it exports stat64
  STAT_VERSIONED,    // only __xstat64 (glibc before 2.33)
  STAT_MISSING,      // neither
} StatKind;

static StatKind Kind = STAT_UNKNOWN;
static Stat64Fn Direct = NULL;
static Xstat64Fn Versioned = NULL;

int LinuxStat(const char *path, struct stat64 *info)
{
  if(Kind == STAT_UNKNOWN)
  {
    Direct = (Stat64Fn)TryResolve(CLIB_SYM_STAT64);
    if(Direct == NULL) Versioned = (Xstat64Fn)TryResolve(CLIB_SYM_XSTAT64);
    Kind = Direct != NULL ? STAT_DIRECT : Versioned != NULL ? STAT_VERSIONED : STAT_MISSING;
  }
  if(Kind == STAT_DIRECT) return Direct(path, info);
  if(Kind == STAT_VERSIONED) return Versioned(CLIB_LXSTAT64_VERSION, path, info);
  return -1;
}
