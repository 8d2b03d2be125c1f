#include "paths_internal.h"

#include "../firmware/firmware.h"

int CallStat(StatCall *call, const char *path, struct stat64 *info)
{
  if(!call->looked_up)
  {
    call->direct = (Stat64Fn)TryResolve(call->direct_name);
    if(call->direct == NULL) call->versioned = (Xstat64Fn)TryResolve(call->versioned_name);
    call->looked_up = 1;
  }
  if(call->direct != NULL) return call->direct(path, info);
  if(call->versioned != NULL) return call->versioned(CLIB_LXSTAT64_VERSION, path, info);
  return -1;
}
