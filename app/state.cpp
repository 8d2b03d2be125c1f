// The application state, shared by every unit of the plug-in.
#include "../lib/str/str.h"
#include "Brimvale.h"

// Answers ping from anywhere: the network-ready check only needs a reply.
#define PROBE_ADDRESS "8.8.8.8"
#define PROBE_PING_WAIT 1

// What a new main settings file offers the user to edit.
#define DEFAULT_ADDRESS "192.168.0.10"
#define DEFAULT_MAC "ff:ff:ff:ff:ff:ff"
#define DEFAULT_LOCAL_NAME "NAS-Share"
#define DEFAULT_MOUNT_OPTIONS "-osoft,intr,tcp,rsize=65535,nolock"
#define DEFAULT_BOOT_TIME 30
#define DEFAULT_AUTO_MOUNT 1
#define DEFAULT_PING_WAIT 3
#define DEFAULT_PING_GAP 30

static const char *const kDefaultRemoteFolder[REMOTE_FOLDER_COUNT] = {
  "/mnt/Files/MediaFiles",
  "/mnt/Files/MP3Files",
  "/mnt/Files/PhotoFiles",
  "/mnt/Files/DataFiles",
};

int lang;
ServerRecord ServerTable[SERVER_TABLE_SIZE];
int TotalNAS;
int tapexit;
int Delay;
dword mounttick;

int Initialdelay = INITIAL_DELAY_SECONDS;
int NASRecord;
int Timerdelay;
int Silentmode;
int logfile;

char LogBuffer[LOG_BUFFER_SIZE];
char sysdo[SYSDO_SIZE];

char ininum[ININUM_SIZE];
char DFLocal[DFLOCAL_SIZE];
int pid;
int pnum;
dword networktick;
dword wakeuptick;
int isMounting;
int isRec;
word timeshift;
word timeshiftstorage;

dword debugtick;
dword showmounttick;
int mountinfo;
int LastTry;
int imgoffset = IMG_OFFSET_START;
word inforegion;
word mountregion;

void SetServerDefaults(void)
{
  ServerRecord *probe = &ServerTable[INTERNET_PROBE];
  StrCopy(probe->address, sizeof(probe->address), PROBE_ADDRESS);
  probe->autoMount = 1;
  probe->pingWait = PROBE_PING_WAIT;

  ServerRecord *first = &ServerTable[1];
  StrCopy(first->address, sizeof(first->address), DEFAULT_ADDRESS);
  StrCopy(first->mac, sizeof(first->mac), DEFAULT_MAC);
  StrCopy(first->localName, sizeof(first->localName), DEFAULT_LOCAL_NAME);
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f)
    StrCopy(first->remoteFolder[f], sizeof(first->remoteFolder[f]), kDefaultRemoteFolder[f]);
  StrCopy(first->mountOptions, sizeof(first->mountOptions), DEFAULT_MOUNT_OPTIONS);
  first->bootTime = DEFAULT_BOOT_TIME;
  first->autoMount = DEFAULT_AUTO_MOUNT;
  first->pingWait = DEFAULT_PING_WAIT;
  first->pingGap = DEFAULT_PING_GAP;

  for(int n = 1; n <= MAX_SERVERS; ++n)
  {
    ServerTable[n].mountDueTick = 0;
    ServerTable[n].tries = 0;
    ServerTable[n].nextProbeTick = 0;
    ServerTable[n].mounted = 0;
  }
}
