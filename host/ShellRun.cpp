#include "shell.h"

#include <stdlib.h>

int ShellRun(const char *command)
{
  return system(command);
}
