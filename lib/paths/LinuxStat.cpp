#include "paths.h"

#include <stddef.h>

#include "paths_internal.h"

static StatCall Stat = {CLIB_SYM_STAT64, CLIB_SYM_XSTAT64, 0, NULL, NULL};

int LinuxStat(const char *path, struct stat64 *info) { return CallStat(&Stat, path, info); }
