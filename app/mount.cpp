#include "mount.h"

#include <string.h>
#include <sys/stat.h>

#include "../host/shell.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"
#include "log_texts.h"
#include "probe.h"
#include "runlog.h"
#include "settings.h"

// The receiver's media folders, in the order their shares are handled.
static const char *const kShareRoots[REMOTE_FOLDER_COUNT] = {"/MediaFiles", "/MP3Files", "/PhotoFiles", "/DataFiles"};

#define RETRY_TICKS 3000  // 30 s between attempts
#define MAX_TRIES 3
#define LAST_TRY_BEFORE 2  // tries that failed before the third attempt

// The recording folder and where the local one is kept while a server holds it.
#define RECORDING_SERVER 1
#define RECORDING_ROOT RECORDING_FOLDER
#define TIMESHIFT_FOLDER "TimeShift"
// The shell's names of the recording folder and of where the local one is kept.
#define RECORDING_PATH HDD_MOUNT RECORDING_FOLDER
#define LOCAL_KEPT_PATH "/mnt/hd/DF_local"

// Shares mounted by the third attempt of a server that then gave up, per server.
static int sKeptShares[SERVER_TABLE_SIZE];

int KeepsShares(int i) { return i >= 1 && i <= MAX_SERVERS && sKeptShares[i] > 0; }

int IsPlainFolderName(const char *name)
{
  return name[0] != '\0' && strchr(name, '/') == NULL && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

const char *ShareRoot(int share) { return share >= 0 && share < REMOTE_FOLDER_COUNT ? kShareRoots[share] : NULL; }

int IsRecordingShare(int i, int share) { return i == RECORDING_SERVER && share == RF_DATA && NASRecord == 1; }

// Whether the settings of share `share` of server s can be put into command
// lines; *key names the first that cannot.
static CommandStatus CheckShareSettings(const ServerRecord *s, int share, const char **key)
{
  CommandStatus address = CheckAddress(s->address);
  if(address != COMMAND_READY)
  {
    *key = KEY_ADDRESS;
    return address;
  }
  if(!IsSafeArgument(s->remoteFolder[share], ARG_QUOTED))
    *key = RemoteFolderKeys[share];
  else if(!IsSafeArgument(s->mountOptions, ARG_OPTIONS))
    *key = KEY_MOUNT_OPTIONS;
  else if(!IsSafeArgument(s->localName, ARG_QUOTED))
    *key = KEY_LOCAL_NAME;
  else if(!IsPlainFolderName(s->localName))
  {
    *key = KEY_LOCAL_NAME;
    return COMMAND_NOT_PLAIN;
  }
  else
    return COMMAND_READY;
  return COMMAND_UNSAFE;
}

static CommandStatus ComposeShareMount(char *command, size_t size, const char *address, const char *root,
                                       const char *remote, const char *name, const char *options)
{
  int fit = StrFormat(command, size, "mount \"%s:%s\" \"/mnt/hd%s/%s\" %s", address, remote, root, name, options);
  return fit ? COMMAND_READY : COMMAND_TOO_LONG;
}

// Server 1's DataFiles export over the recording folder itself.
static CommandStatus ComposeRecordingMount(char *command, size_t size)
{
  const ServerRecord *s = &ServerTable[RECORDING_SERVER];
  int fit = StrFormat(command, size, "mount \"%s:%s\" \"/mnt/hd" RECORDING_ROOT "\" %s", s->address,
                      s->remoteFolder[RF_DATA], s->mountOptions);
  return fit ? COMMAND_READY : COMMAND_TOO_LONG;
}

CommandStatus FormatShareMount(int i, int share, char *command, size_t size, const char **key)
{
  const char *fault = NULL;
  if(command != NULL && size > 0) command[0] = '\0';
  CommandStatus status = COMMAND_NONE;
  if(i >= 1 && i <= MAX_SERVERS && share >= 0 && share < REMOTE_FOLDER_COUNT &&
     ServerTable[i].remoteFolder[share][0] != '\0')
  {
    const ServerRecord *s = &ServerTable[i];
    status = CheckShareSettings(s, share, &fault);
    if(status == COMMAND_READY)
      status = IsRecordingShare(i, share) ? ComposeRecordingMount(command, size)
                                          : ComposeShareMount(command, size, s->address, kShareRoots[share],
                                                              s->remoteFolder[share], s->localName, s->mountOptions);
  }
  if(key != NULL) *key = fault;
  return status;
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
  if(CheckAddress(address) != COMMAND_READY || !IsSafeArgument(remote, ARG_QUOTED) ||
     !IsSafeArgument(name, ARG_QUOTED) || !IsPlainFolderName(name) || !IsSafeArgument(options, ARG_OPTIONS))
    return SHARE_FAILED;
  // A command that cannot be run is refused before its mount point is made,
  // so it leaves no empty folder behind.
  if(ComposeShareMount(sysdo, sizeof(sysdo), address, root, remote, name, options) != COMMAND_READY)
  {
    LogRefusal(0, COMMAND_TOO_LONG, NULL, sysdo);
    return SHARE_FAILED;
  }

  HDD_ChangeDir(root);
  if(!TAP_Hdd_Exist(name) && !RunOnFolder("mkdir", root, name)) return SHARE_FAILED;

  // mkdir took sysdo; the command fit a moment ago and fits again.
  ComposeShareMount(sysdo, sizeof(sysdo), address, root, remote, name, options);
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

int NASumount(const char *root, const char *name, int forceBusy)
{
  if(!IsSafeArgument(name, ARG_QUOTED) || !IsPlainFolderName(name)) return 0;
  // A share of a server that has vanished is busy while anything waits in it
  // for that server (the browser listing the folder): the plain umount fails,
  // and the dead mount would stay to block every later look into the folder,
  // and the share's mount when the server is back. Forced, the calls waiting
  // for the server fail at once; lazy, the mount leaves the tree even while
  // they are on their way out.
  if(!RunOnFolder("umount", root, name) && !(forceBusy && RunOnFolder("umount -f -l", root, name))) return 0;
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

// 1 when both paths exist and show one folder (a bind mount shows its source).
// Where /mnt/hd/DataFiles is a symbolic link the bind followed it, so both
// are looked at through links.
static int SameFolder(const char *a, const char *b)
{
  struct stat64 first, second;
  if(LinuxStat(a, &first) != 0 || LinuxStat(b, &second) != 0) return 0;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Server 1 takes over /mnt/hd/DataFiles; the local recordings stay reachable
// through /mnt/hd/DF_local and the DFLocal subfolder of the export.
static void RedirectRecording(int *ok, int *failed)
{
  isRec = 1;
  SaveAndClearTimeshift();

  StrCopy(sysdo, sizeof(sysdo), "mkdir /mnt/hd/DF_local");
  LogAndRun();
  StrCopy(sysdo, sizeof(sysdo), "mount -o bind /mnt/hd/DataFiles /mnt/hd/DF_local");
  LogAndRun();

  // The export goes over the local recordings only once DF_local shows them:
  // otherwise they would be reachable nowhere, and an empty DF_local bound
  // into the export would pass for them.
  if(!SameFolder(LOCAL_KEPT_PATH, RECORDING_PATH))
  {
    ShellRun("umount \"" LOCAL_KEPT_PATH "\"");
    ShellRun("rmdir \"" LOCAL_KEPT_PATH "\"");
    WriteLog("Local recordings not reachable at " LOCAL_KEPT_PATH " - DataFiles not mounted");
    (*failed)++;
    RestoreTimeshift();
    return;
  }

  // Mountit made sure the command fits before anything was switched.
  int mounted = ComposeRecordingMount(sysdo, sizeof(sysdo)) == COMMAND_READY;
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

// 1 while /mnt/hd/DF_local is there and /mnt/hd/DataFiles shows another
// folder (the export could not be unmounted): DF_local is then the only way
// to the local recordings.
static int LocalFolderHidden(void)
{
  struct stat64 local;
  if(LinuxLstat(LOCAL_KEPT_PATH, &local) != 0) return 0;
  return !SameFolder(LOCAL_KEPT_PATH, RECORDING_PATH);
}

// Undoes RedirectRecording: the local recording folder is back at
// /mnt/hd/DataFiles afterwards, whatever state the redirection was left in.
// The export goes before DF_local, and DF_local stays while the export could
// not be unmounted (busy): taken down first, it would leave the local
// recordings hidden below the export and reachable nowhere.
static void ResetRecording(void)
{
  WriteLog("Reset Recording Device");
  SaveAndClearTimeshift();
  if(FormatCommand(sysdo, sizeof(sysdo), "umount \"/mnt/hd/DataFiles/%s\"", DFLocal)) ShellRun(sysdo);
  if(FormatCommand(sysdo, sizeof(sysdo), "rmdir \"/mnt/hd/DataFiles/%s\"", DFLocal)) ShellRun(sysdo);
  ShellRun("umount \"/mnt/hd/DataFiles\"");
  if(!LocalFolderHidden())
  {
    ShellRun("umount \"/mnt/hd/DF_local\"");
    ShellRun("rmdir \"/mnt/hd/DF_local\"");
  }
  RestoreTimeshift();
}

void Mountit(int tries, int i)
{
  ServerRecord *s = &ServerTable[i];
  ShowMount(0, 0, i);
  isMounting = 1;
  StrFormat(LogBuffer, sizeof(LogBuffer), "Start mounting of %d" LOG_NAS_ABOUT "%s (%d try)", i, s->address, tries + 1);
  WriteLog(LogBuffer);

  int ok = 0, failed = 0;
  int redirected = 0;
  for(int share = 0; share < REMOTE_FOLDER_COUNT; share++)
  {
    if(s->remoteFolder[share][0] == '\0') continue;
    // A share whose command could not be run as composed is refused before
    // anything is made or switched for it.
    const char *key = NULL;
    CommandStatus status = FormatShareMount(i, share, sysdo, sizeof(sysdo), &key);
    if(status != COMMAND_READY)
    {
      LogRefusal(i, status, key, sysdo);
      failed++;
      continue;
    }
    if(IsRecordingShare(i, share))
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
    sKeptShares[i] = 0;
    StrFormat(LogBuffer, sizeof(LogBuffer), "Mounting of %d. NAS finished successfully", i);
    WriteLog(LogBuffer);
  }
  else if(tries >= LAST_TRY_BEFORE)
  {
    // The third attempt keeps what did mount.
    ShowMount(ok, failed, i);
    sKeptShares[i] = ok;
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
        NASumount(kShareRoots[share], s->localName, 0);  // mounted a moment ago: nothing is inside yet
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
  for(int share = RF_MEDIA; share < RF_DATA; share++)
    NASumount(kShareRoots[share], s->localName, s->remoteFolder[share][0] != '\0');
  if(i == 1 && isRec == 1)
    ResetRecording();
  else
    NASumount(RECORDING_ROOT, s->localName, s->remoteFolder[RF_DATA][0] != '\0');
  s->mounted = 0;
  sKeptShares[i] = 0;
}

int UnmountDataShare(int i)
{
  return NASumount(RECORDING_ROOT, ServerTable[i].localName, ServerTable[i].remoteFolder[RF_DATA][0] != '\0');
}

int MountDataShare(int i)
{
  const ServerRecord *s = &ServerTable[i];
  return ShareMount(s->address, RECORDING_ROOT, s->remoteFolder[RF_DATA], s->localName, s->mountOptions) ==
         SHARE_MOUNTED;
}
