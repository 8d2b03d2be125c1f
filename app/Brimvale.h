// The share-mounting application: entry points and application state.
#ifndef BRIMVALE_APP_BRIMVALE_H
#define BRIMVALE_APP_BRIMVALE_H

#include "../host/tap.h"

#define PROGRAM_NAME "Brimvale 3.1"

extern "C" {
// Runs once when the firmware starts the plug-in; returns 1 on every path.
TAP_EXPORT int TAP_Main(void);
// Every idle tick, key and the stop request; returns param1 to pass a key on.
TAP_EXPORT dword TAP_EventHandler(dword event, dword param1, dword param2);
}

#endif
