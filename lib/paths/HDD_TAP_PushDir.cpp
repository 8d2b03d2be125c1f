#include "paths.h"

#include <string.h>

#include "../str/str.h"
#include "paths_internal.h"

int HDD_TAP_PushDir(void)
{
  int depth = TAPDirStackDepth + 1;
  if(depth >= DIR_STACK_DEPTH) return 0;

  // Read aside first: a refused push leaves every entry as it was, and a
  // folder too long for an entry is refused rather than cut, as a cut one
  // would lead the pop into a different folder.
  char current[PATH_BUFFER_SIZE];
  if(CurrentDirInto(current, sizeof(current)) != 0) return 0;
  if(strlen(current) >= DIR_STACK_ENTRY_SIZE) return 0;
  StrCopy(TAPDirStack[depth], DIR_STACK_ENTRY_SIZE, current);
  TAPDirStackDepth = depth;
  return 1;
}
