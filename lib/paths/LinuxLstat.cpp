#include "paths.h"

#include <stddef.h>

#include "paths_internal.h"

static StatCall Lstat = {CLIB_SYM_LSTAT64, CLIB_SYM_LXSTAT64, 0, NULL, NULL};

int LinuxLstat(const char *path, struct stat64 *info) { return CallStat(&Lstat, path, info); }
