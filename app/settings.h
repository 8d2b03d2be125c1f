// The settings files: Brimvale.ini for server 1 and the global settings,
// 2.ini to 9.ini for servers 2 to 9, in SETTINGS_FOLDER.
#ifndef BRIMVALE_APP_SETTINGS_H
#define BRIMVALE_APP_SETTINGS_H

#include "Brimvale.h"

// The keys of the settings files, as users write them.
#define KEY_ADDRESS "NAS IP-Address"
#define KEY_MAC "NAS MAC-Address"
#define KEY_LOCAL_NAME "Local Folder Name"
#define KEY_MOUNT_OPTIONS "Mountoptions"
#define KEY_BOOT_TIME "NAS Boottime"
#define KEY_AUTO_MOUNT "Automount"
#define KEY_PING_WAIT "Ping Wait"
#define KEY_PING_GAP "Ping Gap"
#define KEY_NAS_RECORDING "NAS Recording"
#define KEY_TIMER_DELAY "Timerdelay"
#define KEY_MOUNT_DELAY "MountDelay"
#define KEY_SILENT_MODE "SilentMode"
#define KEY_LOGFILE "Logfile"

// "Remotefolder MediaFiles" ... in the order of the RF_* folders.
extern const char *const RemoteFolderKeys[REMOTE_FOLDER_COUNT];

// Fills server record n (1 to MAX_SERVERS) from fileName, for n = 1 also the
// global settings; a missing key gives its default, a number out of range
// its nearest limit, an unreadable file only defaults. 1 when the file was
// there. 0 when it was not: for n = 1 the user is then told to edit the new
// main file written from record 1; the record keeps what it held. 0 also for
// n outside 1 to MAX_SERVERS, with nothing read.
int LoadINI(const char *fileName, int n);

// Drops the blanks and tabs around the value of `key` in the open settings
// file (the store's text); a blank inside the value stays. 1 when there were
// any. LoadINI does this for every key it reads.
int TrimSettingValue(const char *key);

// Writes the main settings file from record 1 and the global settings: back
// where it was found, or new into SETTINGS_FOLDER.
void SaveINI(void);

#endif
