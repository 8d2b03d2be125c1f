#include "paths.h"

#include <string.h>

#include "../str/str.h"
#include "../text/text.h"
#include "paths_internal.h"

#define PROBE_FOLDER "/ProgramFiles"  // exists on every receiver
// The retry reads 8-bit names as ISO/IEC 8859-9, not 8859-1, as the UTF-8
// firmware itself converts them (0xDD and 0xFD are the Turkish I's there).
#define RETRY_TABLE 9

static int sReturnTypeToBeChecked = 1;
static int sChDirSuccessful;

// The same folder, whether or not either text ends with "/".
static int SameFolder(const char *a, const char *b)
{
  size_t lengthA = strlen(a), lengthB = strlen(b);
  if(lengthA > 1 && a[lengthA - 1] == '/') lengthA--;
  if(lengthB > 1 && b[lengthB - 1] == '/') lengthB--;
  return lengthA == lengthB && strncmp(a, b, lengthA) == 0;
}

// Receivers of one generation answer 1 for a successful change, the other
// generation 0: learn which from a change that must succeed. Where the
// firmware's folder object shows that the change did not happen (a disk
// without the probe folder), the answer was the failure value, and taking it
// for success would turn every later result round.
static void LearnSuccessValue(void)
{
  char before[PATH_BUFFER_SIZE];
  int known = CurrentDirInto(before, sizeof(before)) == 0 && before[0] != '\0';
  int pushed = HDD_TAP_PushDir();

  int answer = TAP_Hdd_ChangeDir(PROBE_FOLDER);
  sChDirSuccessful = answer;
  char after[PATH_BUFFER_SIZE];
  if(known && !SameFolder(before, PROBE_FOLDER) && CurrentDirInto(after, sizeof(after)) == 0 &&
     SameFolder(after, before))
    sChDirSuccessful = answer == 0 ? 1 : 0;

  // Cleared before going back, so the way back does not ask again. Without
  // an entry of our own (full stack) the folder read above leads back.
  sReturnTypeToBeChecked = 0;
  if(pushed)
    HDD_TAP_PopDir();
  else if(known)
    HDD_ChangeDir(before);
}

int HDD_ChangeDir(const char *path)
{
  if(sReturnTypeToBeChecked) LearnSuccessValue();
  if(path == NULL || path[0] == '\0') return 0;

  // Paths that do not fit the work buffers are refused, never cut: a cut path
  // could lead into a different folder.
  char work[PATH_BUFFER_SIZE];
  if(!StrCopy(work, sizeof(work), path) || !CloseDir(work, sizeof(work))) return 0;

  char tapPath[PATH_BUFFER_SIZE];
  tapPath[0] = '\0';
  ConvertPathType(work, tapPath, PT_TapDir);
  if(tapPath[0] == '\0') return 0;

  // One call on the whole path: the firmware walks it itself.
  if(TAP_Hdd_ChangeDir(tapPath) == sChDirSuccessful) return 1;

  if(isUTFFirmware())
  {
    char utf8Path[PATH_BUFFER_SIZE];
    int converted = StrToUTF8Bounded((const byte *)tapPath, (byte *)utf8Path, sizeof(utf8Path), RETRY_TABLE);
    // Unchanged text would only fail again.
    if(converted >= 0 && strcmp(utf8Path, tapPath) != 0 && TAP_Hdd_ChangeDir(utf8Path) == sChDirSuccessful)
      return 1;
  }
  return 0;
}
