#include "paths.h"

#include "../str/str.h"
#include "paths_internal.h"

int HDD_TAP_PopDir(void)
{
  if(TAPDirStackDepth < 0) return 0;

  // The entry is free once popped, and the change may push on its own (the
  // first HDD_ChangeDir of a run does): change to a copy of it.
  char folder[DIR_STACK_ENTRY_SIZE];
  StrCopy(folder, sizeof(folder), TAPDirStack[TAPDirStackDepth]);
  TAPDirStackDepth--;
  return HDD_ChangeDir(folder);
}
