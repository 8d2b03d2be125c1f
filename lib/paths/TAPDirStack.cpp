#include "paths_internal.h"

char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY_SIZE];
int TAPDirStackDepth = -1;
