#include "Brimvale.h"

int TAP_Main(void)
{
  return 1;
}

dword TAP_EventHandler(dword event, dword param1, dword param2)
{
  (void)event;
  (void)param2;
  return param1;
}
