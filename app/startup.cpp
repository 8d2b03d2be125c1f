// TAP_Main: start-up. Loads the settings of every server, checks what the
// plug-in needs on this receiver, starts portmap and works out when mounting
// may begin. A failed check is shown and logged, and the plug-in ends once
// its message has been on screen.
#include <string.h>

#include "../host/shell.h"
#include "../lib/firmware/firmware.h"
#include "../lib/hook/hook.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "../lib/time/time.h"
#include "Brimvale.h"
#include "display.h"
#include "process.h"
#include "runlog.h"
#include "settings.h"
#include "timerdelay.h"

#define DEFAULT_DELAY_TICKS 6000  // 60 s when MountDelay is 0
// FirmwareTMS.dat must be of 18 November 2010 or later.
#define FIRMWARE_DAT_MIN_YEAR 2010
#define FIRMWARE_DAT_MIN_MONTH 11
#define FIRMWARE_DAT_MIN_DAY 18

typedef struct {
  const char *english;
  const char *german;  // ISO 8859-1
} Message;

static const Message kNoFirmwareDat = {"FirmwareTMS.dat not found - TAP will be terminated!",
                                       "FirmwareTMS.dat nicht gefunden - TAP wird beendet!!"};
static const Message kOldFirmwareDat = {"FirmwareTMS.dat is outdated - TAP will be terminated!",
                                        "FirmwareTMS.dat ist veraltet - TAP wird beendet!"};
static const Message kNoBusybox = {"File busybox is missing - TAP will be terminated!",
                                   "Datei busybox fehlt - TAP wird beendet!"};
static const Message kBusyboxRights = {"Can't set the rights for busybox - TAP will be terminated!",
                                       "Rechte f\xfcr busybox konnten nicht gesetzt werden - TAP wird beendet!"};
static const Message kSharedFolder = {"Multiple use of local foldername - TAP will be terminated!",
                                      "Lokaler Ordnername mehrfach vergeben - TAP wird beendet!"};
static const Message kNoAddress = {"Server-IP and/or local folder name missing - TAP will be terminated!",
                                   "Server-IP und/oder lokaler Ordnername fehlen - TAP wird beendet!"};
static const Message kPortmapFailed = {"Portmap failed - TAP will be terminated!",
                                       "Portmap fehlgeschlagen - TAP wird beendet!"};

static void Fail(const Message *message)
{
  StrCopy(LogBuffer, sizeof(LogBuffer), lang == LANGUAGE_GERMAN ? message->german : message->english);
  WriteLog(LogBuffer);
  ShowLog(LogBuffer, SHOW_ERROR_TICKS);
  tapexit = 1;
}

static void CreateFolder(const char *name)
{
  if(!TAP_Hdd_Exist(name)) TAP_Hdd_Create(name, ATTR_FOLDER);
}

static int FirmwareDatOutdated(void)
{
  word year = 0;
  byte month = 0, day = 0, weekday = 0;
  TAP_ExtractMjd(FirmwareDatMJD() & 0xFFFF, &year, &month, &day, &weekday);
  if(year != FIRMWARE_DAT_MIN_YEAR) return year < FIRMWARE_DAT_MIN_YEAR;
  if(month != FIRMWARE_DAT_MIN_MONTH) return month < FIRMWARE_DAT_MIN_MONTH;
  return day < FIRMWARE_DAT_MIN_DAY;
}

// Reads 2.ini to 9.ini up to the first one missing.
static void LoadFurtherServers(void)
{
  while(TotalNAS < MAX_SERVERS)
  {
    int n = TotalNAS + 1;
    StrFormat(LogBuffer, sizeof(LogBuffer), "Looking for %d. NAS Server (%d.ini)", n, n);
    WriteLog(LogBuffer);
    HDD_ChangeDir(SETTINGS_FOLDER);
    StrFormat(ininum, sizeof(ininum), SERVER_INI_FORMAT, n);
    if(!TAP_Hdd_Exist(ininum))
    {
      WriteLog("No more Servers found");
      break;
    }
    LoadINI(ininum, n);
    WriteLog("Server INI loaded");
    // Two servers on one folder would mount over each other.
    for(int k = 1; k < n; k++)
      if(strcmp(ServerTable[n].localName, ServerTable[k].localName) == 0)
      {
        StrCopy(LogBuffer, sizeof(LogBuffer), lang == LANGUAGE_GERMAN ? kSharedFolder.german : kSharedFolder.english);
        WriteLog(LogBuffer);
        ShowLog(LogBuffer, SHOW_ERROR_TICKS);
        tapexit = 1;
      }
    TotalNAS = n;
  }
}

// Steps 5 to 13: everything that a failed check skips.
static void CheckAndStart(void)
{
  StrFormat(LogBuffer, sizeof(LogBuffer), "%s started", PROGRAM_NAME);
  WriteLog(LogBuffer);
  WriteLog("Server INI loaded");
  TotalNAS = 1;
  Delay = Initialdelay != 0 ? Initialdelay * TICKS_PER_SECOND : DEFAULT_DELAY_TICKS;

  byte *header = NULL, *receivers = NULL;
  if(!LoadFirmwareDat(&header, &receivers, NULL)) return Fail(&kNoFirmwareDat);
  if(FirmwareDatOutdated()) return Fail(&kOldFirmwareDat);

  HDD_ChangeDir(PROGRAM_FOLDER);
  if(!TAP_Hdd_Exist("busybox")) return Fail(&kNoBusybox);
  if(ShellRun("cd " HDD_MOUNT PROGRAM_FOLDER "; chmod 555 busybox") != 0) return Fail(&kBusyboxRights);

  LoadFurtherServers();

  if(ServerTable[1].address[0] == '\0' || ServerTable[1].localName[0] == '\0') return Fail(&kNoAddress);
  if(ShellRun("portmap") == 0)
    getprocess("portmap", &pid, &pnum, PROCESS_FIRST);
  else
  {
    // One that already runs (another plug-in's, or ours from before a crash)
    // serves NFS just as well. It is not ours to stop: pid stays 0.
    int running = 0;
    pnum = 0;
    if(!getprocess("portmap", &running, &pnum, PROCESS_FIRST) || pnum == 0) return Fail(&kPortmapFailed);
    WriteLog("Portmap is already running - it is used and left running");
  }
  // Mounting may begin once the receiver has been up for Delay ticks.
  dword uptime = GetUptime();
  if(uptime < (dword)Delay)
    mounttick = TAP_GetTick() + (dword)Delay - GetUptime();
  else
    mounttick = TAP_GetTick() - 1;
}

int TAP_Main(void)
{
  lang = TAP_GetSystemVar(SYSVAR_LANGUAGE);
  SetServerDefaults();

  HDD_ChangeDir(PROGRAM_FOLDER);
  CreateFolder("Settings");
  HDD_ChangeDir("Settings");
  CreateFolder(APP_FOLDER_NAME);
  HDD_ChangeDir(APP_FOLDER_NAME);
  CreateFolder("Logs");

  if(LoadINI(MAIN_INI_NAME, 1))
    CheckAndStart();
  else
    tapexit = 1;  // LoadINI has said what to do

  if(tapexit == 0 && NASRecord == 1 && Timerdelay == 1) DelayTimer();
  StrCopy(DFLocal, sizeof(DFLocal), lang == LANGUAGE_GERMAN ? LOCAL_RECORDINGS_NAME_GERMAN : LOCAL_RECORDINGS_NAME);
  KeyTranslate(1, TAP_EventHandler);
  return 1;
}
