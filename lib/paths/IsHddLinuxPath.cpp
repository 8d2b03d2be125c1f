#include "paths_internal.h"

#include <string.h>

int IsHddLinuxPath(const char *path)
{
  if(strncmp(path, TAP_FOLDER_LINUX_PREFIX, TAP_FOLDER_LINUX_PREFIX_LEN) != 0) return 0;
  char next = path[TAP_FOLDER_LINUX_PREFIX_LEN];
  return next == '\0' || next == '/';
}
