#include "mount.h"

#include <string.h>

#include "../host/shell.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"
#include "probe.h"
#include "settings.h"

// The receiver's media folders, in the order their shares are handled.
static const char *const kShareRoots[REMOTE_FOLDER_COUNT] = {"/MediaFiles", "/MP3Files", "/PhotoFiles", "/DataFiles"};

#define RETRY_TICKS 3000  // 30 s between attempts
#define MAX_TRIES 3
#define LAST_TRY_BEFORE 2  // tries that failed before the third attempt

// The recording folder and where the local one is kept while a server holds it.
#define RECORDING_ROOT "/DataFiles"
#define TIMESHIFT_FOLDER "TimeShift"

static int IsPlainName(const char *name)
{
  return name[0] != '\0' && strchr(name, '/') == NULL && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

// Whether share `share` of server i can be put into command lines; logs the
// setting that cannot.
static int SharePermitted(int i, int share)
{
  const ServerRecord *s = &ServerTable[i];
  if(!CheckSetting(i, KEY_ADDRESS, s->address, ARG_WORD)) return 0;
  if(!CheckSetting(i, RemoteFolderKeys[share], s->remoteFolder[share], ARG_QUOTED)) return 0;
  if(!CheckSetting(i, KEY_MOUNT_OPTIONS, s->mountOptions, ARG_OPTIONS)) return 0;
  if(!CheckSetting(i, KEY_LOCAL_NAME, s->localName, ARG_QUOTED)) return 0;
  if(!IsPlainName(s->localName))
  {
    // "../x" would put the mount point outside the media folder.
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d. NAS: \"%s\" must be a plain folder name - not run", i,
              KEY_LOCAL_NAME);
    WriteLog(LogBuffer);
    return 0;
  }
  return 1;
}

// Runs `tool` ("mkdir", "rmdir", "umount") on the folder `name` in `root`.
// 1 when it succeeded; 0 when it failed or could not be composed (not run).
static int RunOnFolder(const char *tool, const char *root, const char *name)
{
  if(!FormatCommand(sysdo, sizeof(sysdo), "%s \"/mnt/hd%s/%s\"", tool, root, name)) return 0;
  return ShellRun(sysdo) == 0;
}

int ShareMount(const char *address, const char *root, const char *remote, const char *name, const char *options)
{
  if(remote[0] == '\0') return SHARE_NOT_MOUNTED;
  if(!IsSafeArgument(address, ARG_WORD) || !IsSafeArgument(remote, ARG_QUOTED) ||
     !IsSafeArgument(name, ARG_QUOTED) || !IsPlainName(name) || !IsSafeArgument(options, ARG_OPTIONS))
    return SHARE_FAILED;

  HDD_ChangeDir(root);
  if(!TAP_Hdd_Exist(name) && !RunOnFolder("mkdir", root, name)) return SHARE_FAILED;

  if(!FormatCommand(sysdo, sizeof(sysdo), "mount \"%s:%s\" \"/mnt/hd%s/%s\" %s", address, remote, root, name, options))
    return SHARE_FAILED;
  WriteLog(sysdo);
  if(ShellRun(sysdo) == 0) return SHARE_MOUNTED;

  // No empty mount point is left behind, whoever made it. WriteLog moved the
  // current folder.
  HDD_ChangeDir(root);
  if(TAP_Hdd_Exist(name))
  {
    RunOnFolder("rmdir", root, name);
    return SHARE_FAILED;
  }
  return SHARE_NOT_MOUNTED;
}

int NASumount(const char *root, const char *name)
{
  if(!IsSafeArgument(name, ARG_QUOTED) || !IsPlainName(name)) return 0;
  if(!RunOnFolder("umount", root, name)) return 0;
  return RunOnFolder("rmdir", root, name);
}

// Variables 17 and 18 are zeroed while the recording folder is switched, and
// put back afterwards in every case.
static void SaveAndClearTimeshift(void)
{
  timeshift = (word)TAP_GetSystemVar(SYSVAR_TIMESHIFT);
  timeshiftstorage = (word)TAP_GetSystemVar(SYSVAR_TIMESHIFT_STORAGE);
  TAP_SetSystemVar(SYSVAR_TIMESHIFT_STORAGE, 0);
  TAP_WriteSystemVar();
  TAP_SetSystemVar(SYSVAR_TIMESHIFT, 0);
  TAP_WriteSystemVar();
}

static void RestoreTimeshift(void)
{
  TAP_SetSystemVar(SYSVAR_TIMESHIFT, timeshift);
  TAP_SetSystemVar(SYSVAR_TIMESHIFT_STORAGE, timeshiftstorage);
  TAP_WriteSystemVar();
}

// Logs and runs sysdo, its status ignored.
static void LogAndRun(void)
{
  WriteLog(sysdo);
  ShellRun(sysdo);
}

// Server 1 takes over /mnt/hd/DataFiles; the local recordings stay reachable
// through /mnt/hd/DF_local and the DFLocal subfolder of the export.
static void RedirectRecording(int *ok, int *failed)
{
  const ServerRecord *s = &ServerTable[1];
  isRec = 1;
  SaveAndClearTimeshift();

  StrCopy(sysdo, sizeof(sysdo), "mkdir /mnt/hd/DF_local");
  LogAndRun();
  StrCopy(sysdo, sizeof(sysdo), "mount -o bind /mnt/hd/DataFiles /mnt/hd/DF_local");
  LogAndRun();

  int mounted = FormatCommand(sysdo, sizeof(sysdo), "mount \"%s:%s\" \"/mnt/hd/DataFiles\" %s", s->address,
                              s->remoteFolder[RF_DATA], s->mountOptions);
  if(mounted)
  {
    WriteLog(sysdo);
    mounted = ShellRun(sysdo) == 0;
  }
  if(!mounted)
    (*failed)++;
  else
  {
    (*ok)++;
    HDD_ChangeDir(RECORDING_ROOT);
    if(!TAP_Hdd_Exist(TIMESHIFT_FOLDER)) TAP_Hdd_Create(TIMESHIFT_FOLDER, ATTR_FOLDER);
    if(FormatCommand(sysdo, sizeof(sysdo), "mkdir \"/mnt/hd/DataFiles/%s\"", DFLocal)) LogAndRun();
    if(FormatCommand(sysdo, sizeof(sysdo), "mount -o bind /mnt/hd/DF_local \"/mnt/hd/DataFiles/%s\"", DFLocal))
      LogAndRun();
  }
  RestoreTimeshift();
}

// Undoes RedirectRecording: the local recording folder is back at
// /mnt/hd/DataFiles afterwards, whatever state the redirection was left in.
static void ResetRecording(void)
{
  WriteLog("Reset Recording Device");
  SaveAndClearTimeshift();
  if(FormatCommand(sysdo, sizeof(sysdo), "umount \"/mnt/hd/DataFiles/%s\"", DFLocal)) ShellRun(sysdo);
  if(FormatCommand(sysdo, sizeof(sysdo), "rmdir \"/mnt/hd/DataFiles/%s\"", DFLocal)) ShellRun(sysdo);
  ShellRun("umount \"/mnt/hd/DF_local\"");
  ShellRun("rmdir \"/mnt/hd/DF_local\"");
  ShellRun("umount \"/mnt/hd/DataFiles\"");
  RestoreTimeshift();
}

void Mountit(int tries, int i)
{
  ServerRecord *s = &ServerTable[i];
  ShowMount(0, 0, i);
  isMounting = 1;
  StrFormat(LogBuffer, sizeof(LogBuffer), "Start mounting of %d. NAS: %s (%d try)", i, s->address, tries + 1);
  WriteLog(LogBuffer);

  int ok = 0, failed = 0;
  int redirected = 0;
  for(int share = 0; share < REMOTE_FOLDER_COUNT; share++)
  {
    if(s->remoteFolder[share][0] == '\0') continue;
    if(!SharePermitted(i, share))
    {
      failed++;
      continue;
    }
    if(share == RF_DATA && i == 1 && NASRecord == 1)
    {
      RedirectRecording(&ok, &failed);
      redirected = 1;
      continue;
    }
    if(ShareMount(s->address, kShareRoots[share], s->remoteFolder[share], s->localName, s->mountOptions) ==
       SHARE_MOUNTED)
      ok++;
    else
      failed++;
  }

  if(failed == 0)
  {
    ShowMount(ok, 0, i);
    s->mounted = 1;
    s->tries = 0;
    StrFormat(LogBuffer, sizeof(LogBuffer), "Mounting of %d. NAS finished successfully", i);
    WriteLog(LogBuffer);
  }
  else if(tries >= LAST_TRY_BEFORE)
  {
    // The third attempt keeps what did mount.
    ShowMount(ok, failed, i);
    StrFormat(LogBuffer, sizeof(LogBuffer), "Mounting of %d. NAS failed", i);
    WriteLog(LogBuffer);
  }
  else
  {
    // First and second attempts are all or nothing. A recording redirection
    // made in this attempt is undone completely: running it again over the
    // old one would bind the export onto DF_local and hide the local recordings.
    for(int share = 0; share < REMOTE_FOLDER_COUNT; share++)
    {
      if(s->remoteFolder[share][0] == '\0') continue;
      if(share == RF_DATA && redirected)
        ResetRecording();
      else
        NASumount(kShareRoots[share], s->localName);
    }
  }

  WakeServer(i);
  if(s->mounted == 0)
  {
    s->tries++;
    if(s->tries < MAX_TRIES) s->mountDueTick = TAP_GetTick() + RETRY_TICKS;
  }
  isMounting = 0;
}

void unMountit(int i)
{
  ServerRecord *s = &ServerTable[i];
  StrFormat(LogBuffer, sizeof(LogBuffer), "Unmounting of %d. NAS", i);
  WriteLog(LogBuffer);
  for(int share = RF_MEDIA; share < RF_DATA; share++) NASumount(kShareRoots[share], s->localName);
  if(i == 1 && isRec == 1)
    ResetRecording();
  else
    NASumount(RECORDING_ROOT, s->localName);
  s->mounted = 0;
}
