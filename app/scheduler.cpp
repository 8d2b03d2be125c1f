// The event handler: everything the plug-in does after start-up happens
// here, driven by the firmware's idle events.
#include "../host/tap.h"
#include "Brimvale.h"
#include "display.h"
#include "mount.h"
#include "probe.h"
#include "process.h"

#define NETWORK_PROBE_TICKS 300    // 3 s between network-ready probes
#define WAKEUP_TICKS 10000         // 100 s between wake-up passes
#define EARLY_PROBE_MARGIN 100     // 1 s more than the ping may take
#define MAX_TRIES 3

// A tick has passed when it lies strictly before now; a display time has
// expired when now has reached it. The tick is read afresh each time, as
// probes and mounts take time.
static int Passed(dword tick) { return tick < TAP_GetTick(); }
static int Expired(dword tick) { return TAP_GetTick() >= tick; }

static void Probe(int i)
{
  ServerRecord *s = &ServerTable[i];
  if(isOnline(s->address, i) == 1)
  {
    if(s->mountDueTick == 0 && s->mounted == 0) s->mountDueTick = TAP_GetTick() + (dword)s->bootTime * TICKS_PER_SECOND;
  }
  else
  {
    s->mountDueTick = 0;
    if(s->mounted == 1)
    {
      unMountit(i);
      ShowMount(MOUNT_DISCONNECTED, MOUNT_DISCONNECTED, i);
    }
  }

  // While a mount is scheduled, ping once more just before it falls due, so a
  // server that vanished during its boot time is not mounted.
  int boot = s->bootTime * TICKS_PER_SECOND;
  int wait = s->pingWait * TICKS_PER_SECOND;
  if(s->mountDueTick != 0 && s->mounted == 0 && wait + EARLY_PROBE_MARGIN < boot)
    s->nextProbeTick = TAP_GetTick() + (dword)(boot - wait - EARLY_PROBE_MARGIN);
  else
    s->nextProbeTick = TAP_GetTick() + (dword)s->pingGap * TICKS_PER_SECOND;
}

static dword Stop(void)
{
  // The server holding the recording folder goes last, so the local folder
  // is back only when nothing is mounted below it any more.
  int first = isRec == 1 ? 2 : 1;
  for(int i = first; i <= TotalNAS; i++)
    if(ServerTable[i].mounted == 1) unMountit(i);
  if(isRec == 1 && ServerTable[1].mounted == 1) unMountit(1);
  killprocess(pid);
  WriteLog("Brimvale terminated");
  return 0;
}

static dword Idle(dword param1, dword state)
{
  if(debugtick != 0 && Expired(debugtick)) HideLog();
  if(showmounttick != 0 && Expired(showmounttick)) HideMount();

  if(Initialdelay == 0 && TAP_GetTick() < mounttick && Passed(networktick))
  {
    if(isOnline(ServerTable[INTERNET_PROBE].address, INTERNET_PROBE) == 1) mounttick = TAP_GetTick() - 1;
    networktick = TAP_GetTick() + NETWORK_PROBE_TICKS;
  }
  if(TAP_GetTick() < mounttick) return 1;
  if(tapexit == 1) return 1;

  if(Passed(wakeuptick))
  {
    for(int i = 1; i <= TotalNAS; i++) WakeServer(i);
    wakeuptick = TAP_GetTick() + WAKEUP_TICKS;
  }

  for(int i = 1; i <= TotalNAS && isMounting != 1; i++)
  {
    ServerRecord *s = &ServerTable[i];
    if(Passed(s->nextProbeTick) && state != STATE_NO_MOUNTING && s->tries < MAX_TRIES) Probe(i);
  }

  for(int i = 1; i <= TotalNAS; i++)
  {
    ServerRecord *s = &ServerTable[i];
    if(s->mountDueTick != 0 && Passed(s->mountDueTick) && state != STATE_NO_MOUNTING)
    {
      s->mountDueTick = 0;
      Mountit(s->tries, i);
    }
  }
  return param1;
}

dword TAP_EventHandler(dword event, dword param1, dword param2)
{
  (void)param2;
  dword state = 0, subState = 0;
  TAP_GetState(&state, &subState);
  switch(event & 0xFFFF)
  {
    case EVT_STOP: return Stop();
    case EVT_IDLE: return Idle(param1, state);
    default: return param1;  // keys pass on untouched
  }
}
