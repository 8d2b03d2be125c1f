#ifndef BRIMVALE_LIB_HOOK_INTERNAL_H
#define BRIMVALE_LIB_HOOK_INTERNAL_H

#include "hook.h"

#define EVENT_CODE_MASK 0xFFFFu  // the firmware's event code; higher bits are not ours
#define KEY_CODE_MASK 0x1FFFFu   // key code in param1; the bits above pass through

// The handler the hook forwards to; null while no hook is in place.
extern TAP_EventHandlerFn Original_TAP_EventHandler;

#endif
