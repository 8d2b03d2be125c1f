// Runtime support entries: the firmware has no C++ runtime, so a receiver
// plug-in carries these itself. The plug-in never calls them.
//
// Kept out of the test build of the code: an exported abort() there would
// replace the test process's own.
#include "../host/tap.h"

extern "C" {

// Never returns: the firmware has nowhere to return to.
TAP_EXPORT void abort(void)
{
  for(;;) TAP_Sleep(1000);
}

TAP_EXPORT void *__builtin_new(int size)
{
  TAP_Print("__builtin_new. size=%d\n", size);
  return TAP_MemAlloc((dword)size);
}

TAP_EXPORT void _init(void) {}

TAP_EXPORT void _finit(void) {}

}
