#include "hook.h"

#include <stddef.h>

#include "hook_internal.h"

typedef struct {
  dword pressed;    // the code the firmware reports
  dword handedOn;   // the code the plug-in's handler sees
} KeyMapping;

// These remotes send some keys under other codes than the standard remote.
static const KeyMapping KeyMapRemote2[] = {
  {0x10024, 0x10048}, {0x10025, 0x10045}, {0x10026, 0x10046}, {0x1003E, 0x10049}, {0x1003F, 0x10047},
  {0x10045, 0x10044}, {0x10047, 0x1003F}, {0x10048, 0x10024}, {0x10049, 0x10025}, {0x1004A, 0x10026},
};
static const KeyMapping KeyMapRemote3[] = {
  {0x10023, 0x1003F},
};

#define MAPPINGS(table) (sizeof(table) / sizeof((table)[0]))

static dword TranslateKey(dword key)
{
  const KeyMapping *map = NULL;
  size_t count = 0;
  if(RemoteType == REMOTE_TYPE_KEYMAP_2)
  {
    map = KeyMapRemote2;
    count = MAPPINGS(KeyMapRemote2);
  }
  else if(RemoteType == REMOTE_TYPE_KEYMAP_3)
  {
    map = KeyMapRemote3;
    count = MAPPINGS(KeyMapRemote3);
  }
  for(size_t k = 0; k < count; k++)
    if(map[k].pressed == key) return map[k].handedOn;
  return key;
}

dword KeyTranslateHook(dword event, dword param1, dword param2)
{
  TAP_EventHandlerFn handler = Original_TAP_EventHandler;
  // Reached without a hook in place (nothing to forward to): pass it on.
  if(handler == NULL) return param1;

  dword code = event & EVENT_CODE_MASK;
  if(code != EVT_KEY) return handler(code, param1, param2);

  dword key = TranslateKey(param1 & KEY_CODE_MASK);
  // The firmware goes on with the key really pressed unless the handler
  // consumed it.
  if(handler(EVT_KEY, (param1 & ~KEY_CODE_MASK) | key, param2) == 0) return 0;
  return param1;
}
