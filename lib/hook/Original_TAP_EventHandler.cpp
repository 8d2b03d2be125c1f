#include "hook_internal.h"

#include <stddef.h>

TAP_EventHandlerFn Original_TAP_EventHandler = NULL;
