// The share-mounting application: entry points and application state.
#ifndef BRIMVALE_APP_BRIMVALE_H
#define BRIMVALE_APP_BRIMVALE_H

#include "../host/folders.h"
#include "../host/shell.h"
#include "../host/tap.h"

#define PROGRAM_NAME "Brimvale 3.1"

// Where the plug-in keeps its files, in the host's notation.
#define APP_FOLDER_NAME "Brimvale"
#define SERVER_INI_FORMAT "%d.ini"

// The server table: record 0 is the internet probe of the network-ready
// check, records 1 to MAX_SERVERS the servers.
#define SERVER_TABLE_SIZE 10
#define INTERNET_PROBE 0
#define MAX_SERVERS 9

// Field capacities in bytes, terminator included.
#define ADDRESS_SIZE 20
#define MAC_SIZE 20
#define LOCAL_NAME_SIZE 128
#define REMOTE_FOLDER_SIZE 256
#define MOUNT_OPTIONS_SIZE 256

// The receiver folders a server's exports are mounted into, in this order.
enum {
  RF_MEDIA = 0,
  RF_MP3 = 1,
  RF_PHOTO = 2,
  RF_DATA = 3,
  REMOTE_FOLDER_COUNT = 4,
};

typedef struct {
  char address[ADDRESS_SIZE];      // as ping and mount take it
  char mac[MAC_SIZE];              // wake-on-LAN target; empty = no wake-up
  char localName[LOCAL_NAME_SIZE]; // folder the exports appear under
  char remoteFolder[REMOTE_FOLDER_COUNT][REMOTE_FOLDER_SIZE];  // empty = not mounted
  char mountOptions[MOUNT_OPTIONS_SIZE];
  int bootTime;          // seconds from the first answered ping to the mount
  dword mountDueTick;    // 0 = no mount scheduled
  int autoMount;         // 0 = never pinged, counts as online
  int tries;             // failed mount attempts since the last success
  dword nextProbeTick;   // pinged once this tick has passed
  int pingWait;          // seconds
  int pingGap;           // seconds
  int mounted;
} ServerRecord;

#define LOG_BUFFER_SIZE 256
#define ININUM_SIZE 10
#define DFLOCAL_SIZE 128

// Load-time values that are not zero.
#define INITIAL_DELAY_SECONDS 30
#define IMG_OFFSET_START 500

// ---- the application state; every item lives for the whole run ----
extern int lang;                  // menu language; LANGUAGE_GERMAN selects German texts
extern ServerRecord ServerTable[SERVER_TABLE_SIZE];
extern int TotalNAS;              // servers configured: records 1 to TotalNAS
extern int tapexit;               // 1 = the plug-in ends once its message has been shown
extern int Delay;                 // ticks after boot before mounting may begin
extern dword mounttick;           // nothing is probed, woken or mounted before this tick

// Global settings, read only from the main settings file.
extern int Initialdelay;          // "MountDelay", seconds
extern int NASRecord;             // "NAS Recording"
extern int Timerdelay;            // "Timerdelay"
extern int Silentmode;            // "SilentMode": 1 = no status icons
extern int logfile;               // "Logfile": the run log is written only while 1

// Scratch buffers: each user fills and consumes them within one call.
extern char LogBuffer[LOG_BUFFER_SIZE];
extern char sysdo[SYSDO_SIZE];

extern char ininum[ININUM_SIZE];  // name of the server file being loaded
extern char DFLocal[DFLOCAL_SIZE]; // the local recordings inside a redirected DataFiles
extern int pid;                   // portmap's process number
extern int pnum;
extern dword networktick;
extern dword wakeuptick;
extern int isMounting;
extern int isRec;
extern word timeshift;
extern word timeshiftstorage;

// On-screen display.
extern dword debugtick;           // message bar expiry; 0 = no bar shown
extern dword showmounttick;       // status icon expiry; 0 = none pending
extern int mountinfo;             // 1 while the icon region exists
extern int LastTry;               // server whose try icon was drawn last; 0 = none
extern int imgoffset;             // x offset of the next status icon
extern word inforegion;
extern word mountregion;

// Writes the server-table defaults that a new main settings file is made
// from, and clears the run-time fields of records 1 to MAX_SERVERS.
void SetServerDefaults(void);

extern "C" {
// Runs once when the firmware starts the plug-in; returns 1 on every path.
TAP_EXPORT int TAP_Main(void);
// Every idle tick, key and the stop request; returns param1 to pass a key on.
TAP_EXPORT dword TAP_EventHandler(dword event, dword param1, dword param2);
}

#endif
