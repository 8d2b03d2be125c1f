// Start-up glue: hands the firmware the plug-in's two entry points.
#include "../host/tap.h"
#include "Brimvale.h"

extern "C" {

TAP_EXPORT int __TAP_Init_(TAP_EntryRecord *entries)
{
  entries->main = TAP_Main;
  entries->eventHandler = TAP_EventHandler;
  return 0;
}

}
