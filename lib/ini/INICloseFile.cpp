#include "ini.h"

#include "ini_internal.h"

void INICloseFile(void)
{
  if(INIBuffer != NULL) TAP_MemFree(INIBuffer);
  INIBuffer = NULL;
  BufferSize = 0;
}
