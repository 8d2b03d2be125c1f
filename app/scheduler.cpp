// The event handler: everything the plug-in does after start-up happens
// here, driven by the firmware's idle events.
#include "../host/tap.h"
#include "../lib/firmware/firmware.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"
#include "mount.h"
#include "probe.h"
#include "runlog.h"

#define NETWORK_PROBE_TICKS 300    // 3 s between network-ready probes
#define WAKEUP_TICKS 10000         // 100 s between wake-up passes
#define EARLY_PROBE_MARGIN 100     // 1 s more than the ping may take
#define MAX_TRIES 3

// The tick of the current idle event. It is read once when the event
// begins and again after anything that takes time (a probe, a wake-up pass,
// a mount), so an idle event with nothing due reads the clock once and
// makes no other host call.
static dword now;
static void ReadClock(void) { now = TAP_GetTick(); }

// A tick has passed when it lies strictly before now; a display time has
// expired when now has reached it.
static int Passed(dword tick) { return tick < now; }
static int Expired(dword tick) { return now >= tick; }

// The receiver's state, asked for only when a probe or a mount is due.
static int stateKnown;
static dword state;
static int MayMount(void)
{
  if(!stateKnown)
  {
    dword subState = 0;
    TAP_GetState(&state, &subState);
    stateKnown = 1;
  }
  return state != STATE_NO_MOUNTING;
}

// Whether mounting server i switches the recording folder itself.
static int SwitchesRecording(int i)
{
  return IsRecordingShare(i, RF_DATA) && ServerTable[i].remoteFolder[RF_DATA][0] != '\0';
}

// Servers whose DataFiles share ClearRecordingFolder took out.
static int sDataShareOut[SERVER_TABLE_SIZE];

// Before the recording folder changes hands, the shares mounted inside it
// go: the export cannot be unmounted while they sit in it, and a local
// folder they sit in would be hidden under the export, their mount points
// left there for good. Only those shares: the server's films, music and
// photos elsewhere stay where the owner is watching them.
static void ClearRecordingFolder(void)
{
  for(int j = 2; j <= TotalNAS; j++)
  {
    ServerRecord *s = &ServerTable[j];
    sDataShareOut[j] = 0;
    if(s->remoteFolder[RF_DATA][0] == '\0') continue;
    // A mounted server has every share mounted; one that gave up may never
    // have mounted this one, which its umount tells.
    if(s->mounted == 1)
    {
      UnmountDataShare(j);
      sDataShareOut[j] = 1;
    }
    else if(KeepsShares(j))
      sDataShareOut[j] = UnmountDataShare(j);
  }
}

// Puts the shares ClearRecordingFolder took out back, into whichever folder
// now stands at /mnt/hd/DataFiles. A mounted server whose share does not
// come back is taken down whole and probed again at once, to be mounted
// again after its boot time.
static void RefillRecordingFolder(void)
{
  for(int j = 2; j <= TotalNAS; j++)
  {
    if(!sDataShareOut[j]) continue;
    sDataShareOut[j] = 0;
    if(MountDataShare(j)) continue;
    if(ServerTable[j].mounted == 1)
    {
      unMountit(j);
      ServerTable[j].nextProbeTick = 0;
    }
  }
}

static void Probe(int i)
{
  ServerRecord *s = &ServerTable[i];
  if(isOnline(s->address, i) == 1)
  {
    // A server that gave up is not mounted again until the plug-in restarts.
    if(s->mountDueTick == 0 && s->mounted == 0 && s->tries < MAX_TRIES)
      s->mountDueTick = TAP_GetTick() + (dword)s->bootTime * TICKS_PER_SECOND;
  }
  else
  {
    s->mountDueTick = 0;
    if(s->mounted == 1 || KeepsShares(i))
    {
      int recording = isRec == 1 && SwitchesRecording(i);
      if(recording) ClearRecordingFolder();
      unMountit(i);
      if(recording) RefillRecordingFolder();
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

// Whether server i may hold mounts at the stop request: mounted, or given
// up after a third attempt, which keeps what did mount (for the recording
// server also the bind of the local folder to DF_local). Nobody would ever
// unmount those once the plug-in has ended.
static int HoldsMounts(int i) { return ServerTable[i].mounted == 1 || ServerTable[i].tries >= MAX_TRIES; }

static dword Stop(void)
{
  // The server holding the recording folder goes last, so the local folder
  // is back only when nothing is mounted below it any more.
  int first = isRec == 1 ? 2 : 1;
  for(int i = first; i <= TotalNAS; i++)
    if(HoldsMounts(i)) unMountit(i);
  if(isRec == 1 && HoldsMounts(1)) unMountit(1);
  killprocess(pid);
  pid = 0;
  WriteLog("Brimvale terminated");
  FreeFirmwareDat();
  return 0;
}

static dword Idle(dword param1)
{
  ReadClock();
  stateKnown = 0;
  if(debugtick != 0 && Expired(debugtick)) HideLog();
  if(showmounttick != 0 && Expired(showmounttick)) HideMount();

  if(Initialdelay == 0 && now < mounttick && Passed(networktick))
  {
    int online = isOnline(ServerTable[INTERNET_PROBE].address, INTERNET_PROBE);
    ReadClock();
    if(online == 1) mounttick = now - 1;
    networktick = now + NETWORK_PROBE_TICKS;
  }
  if(now < mounttick) return 1;
  if(tapexit == 1) return 1;

  if(Passed(wakeuptick))
  {
    for(int i = 1; i <= TotalNAS; i++) WakeServer(i);
    ReadClock();
    wakeuptick = now + WAKEUP_TICKS;
  }

  for(int i = 1; i <= TotalNAS && isMounting != 1; i++)
  {
    ServerRecord *s = &ServerTable[i];
    // A server that gave up is still watched while it holds shares, so they
    // do not stay on a NAS that has gone (stale handles in the browser).
    if(Passed(s->nextProbeTick) && (s->tries < MAX_TRIES || KeepsShares(i)) && MayMount())
    {
      Probe(i);
      ReadClock();
    }
  }

  for(int i = 1; i <= TotalNAS; i++)
  {
    ServerRecord *s = &ServerTable[i];
    if(s->mountDueTick != 0 && Passed(s->mountDueTick) && MayMount())
    {
      s->mountDueTick = 0;
      int recording = SwitchesRecording(i);
      if(recording) ClearRecordingFolder();
      Mountit(s->tries, i);
      if(recording) RefillRecordingFolder();
      ReadClock();
    }
  }
  return param1;
}

dword TAP_EventHandler(dword event, dword param1, dword param2)
{
  (void)param2;
  switch(event & 0xFFFF)
  {
    case EVT_STOP: return Stop();
    case EVT_IDLE: return Idle(param1);
    default: return param1;  // keys pass on untouched
  }
}
