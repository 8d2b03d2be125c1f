#include "command.h"

#include <stdarg.h>
#include <string.h>

#include "../lib/str/str.h"
#include "Brimvale.h"
#include "display.h"

// In double quotes the shell still expands these.
#define QUOTED_SPECIALS "\"`$\\\r\n"
// A bare word ends or changes meaning at any of these.
#define WORD_SPECIALS QUOTED_SPECIALS ";&|<>()'*?[]{}~#!"
#define BLANKS " \t"

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
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d. NAS: \"%s\" holds characters a command cannot take - not run", n,
              key);
    break;
  case COMMAND_NOT_PLAIN:
    // "../x" would put the mount point outside the media folder.
    StrFormat(LogBuffer, sizeof(LogBuffer), "%d. NAS: \"%s\" must be a plain folder name - not run", n, key);
    break;
  case COMMAND_TOO_LONG:
    // Show how it begins so the user can find the setting that is too long.
    StrFormat(LogBuffer, sizeof(LogBuffer), "Command too long - not run: %.60s...", command);
    break;
  default:
    return;
  }
  WriteLog(LogBuffer);
}

int CheckSetting(int n, const char *key, const char *value, ArgPosition position)
{
  if(IsSafeArgument(value, position)) return 1;
  LogRefusal(n, COMMAND_UNSAFE, key, NULL);
  return 0;
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
