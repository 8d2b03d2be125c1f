#include "command.h"

#include <stdarg.h>
#include <string.h>

#include "../host/shell.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "log_texts.h"
#include "runlog.h"

// In double quotes the shell still expands these.
#define QUOTED_SPECIALS "\"`$\\\r\n"
// A bare word ends or changes meaning at any of these.
#define WORD_SPECIALS QUOTED_SPECIALS ";&|<>()'*?[]{}~#!"
#define BLANKS " \t"

#define IPV4_GROUPS 4
#define IPV4_GROUP_DIGITS 3
#define IPV4_GROUP_MAX 255
#define HOST_LABEL_MAX 63
#define HOST_NAME_MAX_LENGTH 253  // a trailing dot included
#define MAC_GROUPS 6
#define KILL_COMMAND_SIZE 128

int IsSafeArgument(const char *value, ArgPosition position)
{
  if(value == NULL) return 0;
  const char *forbidden = position == ARG_QUOTED ? QUOTED_SPECIALS : WORD_SPECIALS;
  if(strpbrk(value, forbidden) != NULL) return 0;
  if(position == ARG_WORD && strpbrk(value, BLANKS) != NULL) return 0;
  return 1;
}

void LogRefusal(int n, CommandStatus status, const char *key, const char *command)
{
  switch(status)
  {
  case COMMAND_UNSAFE:
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d" LOG_NAS_ABOUT "\"%s\" holds characters a command cannot take " LOG_NOT_RUN, n,
              key);
    break;
  case COMMAND_NOT_PLAIN:
    // "../x" would put the mount point outside the media folder.
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d" LOG_NAS_ABOUT "\"%s\" must be a plain folder name " LOG_NOT_RUN, n, key);
    break;
  case COMMAND_NOT_ADDRESS:
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d" LOG_NAS_ABOUT "\"%s\" is not an IPv4 address or host name " LOG_NOT_RUN, n, key);
    break;
  case COMMAND_NOT_MAC:
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d" LOG_NAS_ABOUT "\"%s\" is not a MAC address like 00:11:32:aa:bb:cc " LOG_NOT_RUN,
              n, key);
    break;
  case COMMAND_TOO_LONG:
    // Show how it begins so the user can find the setting that is too long.
    StrFormat(LogBuffer, sizeof(LogBuffer), "Command too long " LOG_NOT_RUN ": %.60s...", command);
    break;
  default:
    return;
  }
  WriteLog(LogBuffer);
}

int AcceptSetting(int n, const char *key, CommandStatus status)
{
  if(status == COMMAND_READY) return 1;
  LogRefusal(n, status, key, NULL);
  return 0;
}

static int IsDigit(char c) { return c >= '0' && c <= '9'; }
static int IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
static int IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Four decimal groups of 0 to 255. A leading zero is refused: the C
// library's inet_aton reads "010" as octal 8, not the 10 the owner meant.
static int IsDottedQuad(const char *text)
{
  for(int group = 0; group < IPV4_GROUPS; group++)
  {
    if(group > 0 && *text++ != '.') return 0;
    if(!IsDigit(*text)) return 0;
    if(text[0] == '0' && IsDigit(text[1])) return 0;
    int value = 0, digits = 0;
    for(; IsDigit(*text); text++, digits++)
    {
      value = value * 10 + (*text - '0');
      if(digits >= IPV4_GROUP_DIGITS || value > IPV4_GROUP_MAX) return 0;
    }
  }
  return *text == '\0';
}

// Labels of letters, digits, "-" and "_" between dots, 1 to 63 characters
// each, none empty and none starting with "-" (so no option), with one dot
// at the end allowed (a fully qualified name). Home routers hand out names
// such as "4bay" or "my_nas", so spelling is not judged beyond that; only a
// name of nothing but digits and dots is no name, but an address (and here
// one IsDottedQuad refused: 192.168.1.300, 192.168.001.020).
static int IsHostName(const char *text)
{
  size_t total = strlen(text);
  if(total == 0 || total > HOST_NAME_MAX_LENGTH) return 0;
  const char *end = text + total;
  if(end[-1] == '.') end--;
  int onlyDigits = 1;
  const char *label = text;
  for(const char *p = text;; p++)
  {
    if(p == end || *p == '.')
    {
      size_t length = (size_t)(p - label);
      if(length == 0 || length > HOST_LABEL_MAX || label[0] == '-') return 0;
      if(p == end) return !onlyDigits;
      label = p + 1;
    }
    else if(IsLetter(*p) || *p == '-' || *p == '_')
      onlyDigits = 0;
    else if(!IsDigit(*p))
      return 0;
  }
}

CommandStatus CheckAddress(const char *address)
{
  if(!IsSafeArgument(address, ARG_WORD)) return COMMAND_UNSAFE;
  return IsDottedQuad(address) || IsHostName(address) ? COMMAND_READY : COMMAND_NOT_ADDRESS;
}

// Six groups of two hex digits with `separator` between them.
static int IsMacWith(const char *mac, char separator)
{
  for(int group = 0; group < MAC_GROUPS; group++)
  {
    if(group > 0 && *mac++ != separator) return 0;
    if(!IsHex(mac[0]) || !IsHex(mac[1])) return 0;
    mac += 2;
  }
  return *mac == '\0';
}

CommandStatus CheckMac(const char *mac)
{
  if(!IsSafeArgument(mac, ARG_WORD)) return COMMAND_UNSAFE;
  return IsMacWith(mac, ':') ? COMMAND_READY : COMMAND_NOT_MAC;
}

int NormaliseMac(char *mac)
{
  if(mac == NULL || !IsMacWith(mac, '-')) return 0;
  for(char *p = mac; *p != '\0'; p++)
    if(*p == '-') *p = ':';
  return 1;
}

int FormatCommand(char *command, size_t size, const char *fmt, ...)
{
  va_list args;
  va_start(args, fmt);
  int fit = StrFormatV(command, size, fmt, args);
  va_end(args);
  if(fit) return 1;
  LogRefusal(0, COMMAND_TOO_LONG, NULL, command);
  command[0] = '\0';
  return 0;
}

int killprocess(int process)
{
  // 0 and negative numbers name process groups: the firmware's own among them.
  if(process <= 0) return 0;
  char command[KILL_COMMAND_SIZE];
  if(!FormatCommand(command, sizeof(command), "kill -15 %d", process)) return 0;
  return ShellRun(command) == 0;
}
