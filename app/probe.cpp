#include "probe.h"

#include <stdlib.h>
#include <string.h>

#include "../host/shell.h"
#include "../lib/log/log.h"
#include "../lib/paths/paths.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "log_texts.h"
#include "runlog.h"
#include "settings.h"

#define PING_FILE_SIZE 256
// ping writes well over this with a reply and well under it without one.
#define PING_REPLY_MIN_BYTES 200
// The reply line ("64 bytes from ...") stands near the start of the report.
#define PING_REPORT_READ 2048
#define HDD_LINUX_ROOT HDD_MOUNT

static char report[PING_REPORT_READ + 1];

// Reads and removes the ping report of record n: 1 when it shows a reply.
// Its length alone misleads: the report of a long host name that did not
// answer, or one with "Destination Host Unreachable" lines, is longer than
// 200 bytes too. So it must also hold a reply line.
static int Judge(int n)
{
  char file[PING_FILE_SIZE];
  StrFormat(file, sizeof(file), "%d.ping", n);
  HDD_ChangeDir(SETTINGS_FOLDER);
  if(!TAP_Hdd_Exist(file)) return 0;
  TYPE_File *handle = TAP_Hdd_Fopen(file);
  if(handle == NULL) return 0;
  dword length = TAP_Hdd_Flen(handle);
  int online = 0;
  if(length > PING_REPLY_MIN_BYTES)
  {
    dword size = length < PING_REPORT_READ ? length : PING_REPORT_READ;
    if(TAP_Hdd_Fread(report, size, 1, handle) == 1)
    {
      report[size] = '\0';
      // A zero byte in the report ends the search there; ping writes none.
      online = strstr(report, " bytes from ") != NULL;
    }
  }
  TAP_Hdd_Fclose(handle);
  TAP_Hdd_Delete(file);
  return online;
}

CommandStatus FormatPing(const char *address, int n, char *command, size_t size)
{
  if(command != NULL && size > 0) command[0] = '\0';
  // An address the shell would split, or ping would take for an option, is not pinged.
  CommandStatus checked = CheckAddress(address);
  if(checked != COMMAND_READY) return checked;
  int fit = StrFormat(command, size, LOG_PING_COMMAND "1 -W%d %s > %s" SETTINGS_FOLDER "/%d.ping", ServerTable[n].pingWait,
                      address, HDD_LINUX_ROOT, n);
  return fit ? COMMAND_READY : COMMAND_TOO_LONG;
}

CommandStatus FormatWakeup(const char *mac, char *command, size_t size)
{
  if(command != NULL && size > 0) command[0] = '\0';
  CommandStatus checked = CheckMac(mac);
  if(checked != COMMAND_READY) return checked;
  int fit = StrFormat(command, size, "%s/ProgramFiles/busybox " LOG_WAKEUP_APPLET " %s", HDD_LINUX_ROOT, mac);
  return fit ? COMMAND_READY : COMMAND_TOO_LONG;
}

int isOnline(const char *address, int n)
{
  const ServerRecord *server = &ServerTable[n];
  if(server->autoMount == 0)
  {
    StrFormat(LogBuffer, sizeof(LogBuffer), "Skip Ping (Automount is disabled for %d. NAS)", n);
    WriteLog(LogBuffer);
    return 1;
  }

  if(n == INTERNET_PROBE)
    StrCopy(LogBuffer, sizeof(LogBuffer), LOG_NETWORK_CHECK);
  else
    StrFormat(LogBuffer, sizeof(LogBuffer), LOG_PING_SENT "%d" LOG_NAS_AT "%s)", n, address);
  WriteLog(LogBuffer);

  int online = 0;
  char command[PING_COMMAND_SIZE];
  // A ping that cannot be run as composed counts as not answering.
  CommandStatus status = FormatPing(address, n, command, sizeof(command));
  if(status == COMMAND_READY)
  {
    if(n != INTERNET_PROBE) WriteLog(command);
    ShellRun(command);
    online = Judge(n);
  }
  else
    LogRefusal(n, status, KEY_ADDRESS, command);

  if(n == INTERNET_PROBE)
    StrCopy(LogBuffer, sizeof(LogBuffer), online ? "Network is ready" : "Network is not ready");
  else
    StrFormat(LogBuffer, sizeof(LogBuffer), online ? "%d" LOG_NAS_AT "%s" LOG_NAS_IS "online" : "%d" LOG_NAS_AT "%s" LOG_NAS_IS "offline", n, address);
  WriteLog(LogBuffer);
  return online;
}

void Wakeup(const char *mac)
{
  char command[WAKEUP_COMMAND_SIZE];
  // Callers check the MAC with the server's number for the log; this only
  // keeps a bad one from ever reaching the shell.
  CommandStatus composed = FormatWakeup(mac, command, sizeof(command));
  if(composed == COMMAND_TOO_LONG) LogRefusal(0, composed, KEY_MAC, command);
  if(composed != COMMAND_READY) return;
  WriteLog(command);
  int status = ShellRun(command);
  if(status != 0)
  {
    StrFormat(puffer, sizeof(puffer), "'%s' failed (0x%x)\n", command, status);
    PrintNet(puffer);
  }
}

void WakeServer(int i)
{
  const char *mac = ServerTable[i].mac;
  if(mac[0] == '\0') return;
  if(AcceptSetting(i, KEY_MAC, CheckMac(mac))) Wakeup(mac);
}
