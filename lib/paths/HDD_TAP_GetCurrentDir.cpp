#include "paths.h"

#include "paths_internal.h"

int HDD_TAP_GetCurrentDir(char *dest)
{
  return CurrentDirInto(dest, dest != NULL ? PATH_BUFFER_SIZE : 0);
}
