#include "ini_internal.h"

char *INIBuffer = NULL;
dword BufferSize = 0;
