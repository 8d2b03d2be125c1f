// Reading the settings files into the server table, and writing a main
// settings file for the user to edit when there is none.
#include <string.h>

#include "../lib/ini/ini.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"
#include "runlog.h"
#include "settings.h"

#define EDIT_MESSAGE_EN "Brimvale.ini at ProgramFiles/Settings/Brimvale has to be edited!"
#define EDIT_MESSAGE_DE "Brimvale.ini unter ProgramFiles/Settings/Brimvale muss bearbeitet werden!"

const char *const RemoteFolderKeys[REMOTE_FOLDER_COUNT] = {
  "Remotefolder MediaFiles",
  "Remotefolder MP3Files",
  "Remotefolder PhotoFiles",
  "Remotefolder DataFiles",
};

// Default and range of every number; seconds unless said otherwise.
#define BOOT_TIME_DEFAULT 30
#define BOOT_TIME_MIN 0
#define BOOT_TIME_MAX 600
#define AUTO_MOUNT_DEFAULT 1
#define PING_WAIT_DEFAULT 3
#define PING_WAIT_MIN 1
#define PING_WAIT_MAX 10
#define PING_GAP_DEFAULT 30
#define PING_GAP_MIN 10
#define PING_GAP_MAX 300
#define MOUNT_DELAY_MAX 600
#define SWITCH_OFF 0  // the switches: 0 or 1, off when missing
#define SWITCH_ON 1

#define RECORDING_SERVER 1

static int IsBlank(char c) { return c == ' ' || c == '\t'; }

int TrimSettingValue(const char *key)
{
  char entryKey[INI_KEY_LENGTH + 2];
  if(key == NULL || !StrFormat(entryKey, sizeof(entryKey), "%s=", key)) return 0;
  char *start = NULL, *end = NULL;
  INIFindStartEnd(entryKey, &start, &end, (dword)-1);
  if(start == NULL || end == NULL) return 0;
  char *value = start + strlen(entryKey);
  if(end < value) return 0;  // empty

  // Shrinks the store's text in place: nothing to allocate, nothing to fail.
  char *first = value;
  while(first <= end && IsBlank(*first)) first++;
  char *last = end;
  while(last >= first && IsBlank(*last)) last--;
  if(first == value && last == end) return 0;
  size_t kept = first <= last ? (size_t)(last + 1 - first) : 0;
  memmove(value, first, kept);
  memmove(value + kept, end + 1, strlen(end + 1) + 1);
  return 1;
}

// Every value is read without the blanks and tabs around it: an editor's
// trailing blank would otherwise make a MAC or an address unusable, and the
// owner would see nothing of it with the run log off.
static void ReadText(const char *key, char *field, dword size)
{
  TrimSettingValue(key);
  INIGetString(key, field, "", size);
}

static int ReadNumber(const char *key, int defaultValue, int minValue, int maxValue)
{
  TrimSettingValue(key);
  return INIGetInt(key, defaultValue, minValue, maxValue);
}

static int ReadSwitch(const char *key, int defaultValue) { return ReadNumber(key, defaultValue, SWITCH_OFF, SWITCH_ON); }

static void ReadServer(ServerRecord *server)
{
  ReadText(KEY_ADDRESS, server->address, sizeof(server->address));
  ReadText(KEY_MAC, server->mac, sizeof(server->mac));
  // ether-wake takes only the ":" form.
  NormaliseMac(server->mac);
  ReadText(KEY_LOCAL_NAME, server->localName, sizeof(server->localName));
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f)
    ReadText(RemoteFolderKeys[f], server->remoteFolder[f], sizeof(server->remoteFolder[f]));
  ReadText(KEY_MOUNT_OPTIONS, server->mountOptions, sizeof(server->mountOptions));
  server->bootTime = ReadNumber(KEY_BOOT_TIME, BOOT_TIME_DEFAULT, BOOT_TIME_MIN, BOOT_TIME_MAX);
  server->autoMount = ReadSwitch(KEY_AUTO_MOUNT, AUTO_MOUNT_DEFAULT);
  server->pingWait = ReadNumber(KEY_PING_WAIT, PING_WAIT_DEFAULT, PING_WAIT_MIN, PING_WAIT_MAX);
  server->pingGap = ReadNumber(KEY_PING_GAP, PING_GAP_DEFAULT, PING_GAP_MIN, PING_GAP_MAX);
}

static void ReadGlobals(void)
{
  NASRecord = ReadSwitch(KEY_NAS_RECORDING, SWITCH_OFF);
  Timerdelay = ReadSwitch(KEY_TIMER_DELAY, SWITCH_OFF);
  Initialdelay = ReadNumber(KEY_MOUNT_DELAY, 0, 0, MOUNT_DELAY_MAX);
  Silentmode = ReadSwitch(KEY_SILENT_MODE, SWITCH_OFF);
  logfile = ReadSwitch(KEY_LOGFILE, SWITCH_OFF);
}

int LoadINI(const char *fileName, int n)
{
  if(n < 1 || n > MAX_SERVERS) return 0;

  IniLocation location = INIOpenFile(fileName, APP_FOLDER_NAME);
  if(location == IniLoc_New)
  {
    INICloseFile();
    // Only a missing main file is made anew; a missing server file is
    // simply not there.
    if(n != 1) return 0;
    ShowLog(lang == LANGUAGE_GERMAN ? EDIT_MESSAGE_DE : EDIT_MESSAGE_EN, SHOW_EDIT_TICKS);
    WriteLog(EDIT_MESSAGE_EN);
    SaveINI();
    return 0;
  }
  // A file that could not be read counts as one without any keys, not as
  // whatever part of it arrived.
  if(location == IniLoc_None) INICloseFile();

  ServerRecord *server = &ServerTable[n];
  ReadServer(server);
  if(n == 1)
    ReadGlobals();
  else if(NASRecord == 1 && server->bootTime <= ServerTable[RECORDING_SERVER].bootTime)
    // Every other server is mounted after the one that holds the recording
    // folder, counted from their first answered pings.
    server->bootTime = ServerTable[RECORDING_SERVER].bootTime + 1;

  INICloseFile();
  return 1;
}

void SaveINI(void)
{
  IniLocation location = INIOpenFile(MAIN_INI_NAME, APP_FOLDER_NAME);
  // Neither a partly read file nor a failed open may be saved over anything.
  if(location == IniLoc_None)
  {
    INICloseFile();
    return;
  }
  // A new file goes where LoadINI and the user's instructions look for it,
  // whatever folder a log line has left current.
  if(location == IniLoc_New) location = IniLoc_AppFolder;

  const ServerRecord *server = &ServerTable[1];
  INISetString(KEY_ADDRESS, server->address);
  INISetString(KEY_MAC, server->mac);
  INISetString(KEY_LOCAL_NAME, server->localName);
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f) INISetString(RemoteFolderKeys[f], server->remoteFolder[f]);
  INISetString(KEY_MOUNT_OPTIONS, server->mountOptions);
  INISetInt(KEY_BOOT_TIME, server->bootTime);
  INISetInt(KEY_AUTO_MOUNT, server->autoMount);
  INISetInt(KEY_PING_WAIT, server->pingWait);
  INISetInt(KEY_PING_GAP, server->pingGap);
  INISetInt(KEY_MOUNT_DELAY, Initialdelay);
  INISetInt(KEY_NAS_RECORDING, NASRecord);
  INISetInt(KEY_TIMER_DELAY, Timerdelay);
  INISetInt(KEY_SILENT_MODE, Silentmode);
  // Logging stays off unless the user switches it on.
  if(logfile == 1) INISetInt(KEY_LOGFILE, 1);

  INISaveFile(MAIN_INI_NAME, location, APP_FOLDER_NAME);
  INICloseFile();
}
