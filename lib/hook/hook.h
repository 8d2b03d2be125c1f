// The event-handler hook: placed in this plug-in's entry of the firmware's
// task table, it sees every event before the plug-in's own handler and hands
// key codes on translated for the receiver's remote control.
#ifndef BRIMVALE_LIB_HOOK_H
#define BRIMVALE_LIB_HOOK_H

#include "../../host/tap.h"

#define REMOTE_TYPE_DEFAULT 1  // keys as the firmware numbers them
#define REMOTE_TYPE_KEYMAP_2 2 // remote types whose keys are translated
#define REMOTE_TYPE_KEYMAP_3 3

// The remote-control type of this receiver model, from its record in
// FirmwareTMS.dat; REMOTE_TYPE_DEFAULT until a record has been found.
extern int RemoteType;

// Sets RemoteType from the record whose id equals TAP_GetSystemId() (kept
// when there is none), then with install non-zero puts KeyTranslateHook in
// front of `handler` in this plug-in's task-table entry, with install 0 puts
// the remembered handler back. 1 when the entry changed; 0 when it did not
// (it does not hold `handler`, or not the hook; no task table; null handler).
int KeyTranslate(int install, TAP_EventHandlerFn handler);

// The event-handler form that KeyTranslate places; only the firmware calls
// it. Event codes lose their bits above 15. A key event reaches the handler
// translated and returns param1 as received when the handler passes it on,
// 0 when the handler consumes it; other results come back unchanged.
dword KeyTranslateHook(dword event, dword param1, dword param2);

#endif
