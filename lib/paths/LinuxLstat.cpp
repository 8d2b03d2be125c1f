#include "paths.h"

#include <stddef.h>

#include "../../host/clib.h"
#include "../firmware/firmware.h"

// How this receiver's C library offers lstat64; asked once, as the answer
// cannot change while the firmware runs.
typedef enum {
  LSTAT_UNKNOWN = 0,  // not asked yet
  LSTAT_DIRECT,       // it exports lstat64
  LSTAT_VERSIONED,    // only __lxstat64 (glibc before 2.33)
  LSTAT_MISSING,      // neither
} LstatKind;

static LstatKind Kind = LSTAT_UNKNOWN;
static Lstat64Fn Direct = NULL;
static Lxstat64Fn Versioned = NULL;

int LinuxLstat(const char *path, struct stat64 *info)
{
  if(Kind == LSTAT_UNKNOWN)
  {
    Direct = (Lstat64Fn)TryResolve(CLIB_SYM_LSTAT64);
    if(Direct == NULL) Versioned = (Lxstat64Fn)TryResolve(CLIB_SYM_LXSTAT64);
    Kind = Direct != NULL ? LSTAT_DIRECT : Versioned != NULL ? LSTAT_VERSIONED : LSTAT_MISSING;
  }
  if(Kind == LSTAT_DIRECT) return Direct(path, info);
  if(Kind == LSTAT_VERSIONED) return Versioned(CLIB_LXSTAT64_VERSION, path, info);
  return -1;
}
