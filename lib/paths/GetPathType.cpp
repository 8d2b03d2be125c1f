#include "paths.h"

#include <string.h>

#include "../str/str.h"
#include "paths_internal.h"

#define LINUX_MOUNT_ROOT "/mnt"
#define LINUX_MOUNT_ROOT_LEN 4

dword GetPathType(const char *path)
{
  if(path == NULL || path[0] == '\0') return PT_FileName;
  if(path[0] == '.' || strcmp(path, "/") == 0) return PT_TapDir;

  // Whatever Linux can see as it stands is in Linux notation, even a relative
  // name that happens to exist below the process's own working folder.
  struct stat64 info;
  if(LinuxLstat(path, &info) == 0) return S_ISDIR(info.st_mode) ? PT_LinuxDir : PT_LinuxFile;

  size_t length = strlen(path);
  int hasSlash = strchr(path, '/') != NULL;
  int endsWithSlash = path[length - 1] == '/';
  int linuxRoot = strncmp(path, LINUX_MOUNT_ROOT, LINUX_MOUNT_ROOT_LEN) == 0;

  // Seen from the disk: a name that is a folder there is a folder, with or
  // without its trailing "/". A probe that does not fit is not looked at, as
  // a cut one would ask about a different path.
  char probe[PATH_BUFFER_SIZE];
  int fits = StrCopy(probe, sizeof(probe), TAP_FOLDER_LINUX_PREFIX);
  if(path[0] != '/')
  {
    char current[PATH_BUFFER_SIZE];
    int read = CurrentDirInto(current, sizeof(current));
    fits = fits && read != CURRENT_DIR_TOO_LONG && StrAppend(probe, sizeof(probe), current) &&
           CloseDir(probe, sizeof(probe));
  }
  fits = fits && StrAppend(probe, sizeof(probe), path);
  if(fits && LinuxLstat(probe, &info) == 0 && S_ISDIR(info.st_mode))
  {
    hasSlash = 1;
    endsWithSlash = 1;
  }

  if(hasSlash && endsWithSlash) return linuxRoot ? PT_LinuxDir : PT_TapDir;
  if(hasSlash) return linuxRoot ? PT_LinuxFile : PT_TapFile;
  return PT_FileName;
}
