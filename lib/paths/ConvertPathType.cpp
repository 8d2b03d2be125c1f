#include "paths.h"

#include <string.h>

#include "../str/str.h"
#include "paths_internal.h"

// Every piece is appended through `fits`: one piece that does not fit makes
// the whole result empty, as a cut path would name a different place.
typedef struct {
  char text[PATH_BUFFER_SIZE];
  int fits;
} PathBuilder;

static void Begin(PathBuilder *b)
{
  b->text[0] = '\0';
  b->fits = 1;
}
static void Add(PathBuilder *b, const char *piece) { b->fits = b->fits && StrAppend(b->text, sizeof(b->text), piece); }
static void Close(PathBuilder *b) { b->fits = b->fits && CloseDir(b->text, sizeof(b->text)); }

// The folder part (before the last "/", empty when there is none).
static void AddFolderPart(PathBuilder *b, const char *path)
{
  const char *slash = strrchr(path, '/');
  if(slash == NULL || !b->fits) return;
  size_t length = strlen(b->text);
  size_t partLength = (size_t)(slash - path);
  if(length + partLength >= sizeof(b->text))
  {
    b->fits = 0;
    return;
  }
  memcpy(b->text + length, path, partLength);
  b->text[length + partLength] = '\0';
}

static const char *NamePart(const char *path)
{
  const char *slash = strrchr(path, '/');
  return slash != NULL ? slash + 1 : path;
}

// The current folder, closed. The firmware table out of reach counts as the
// disk's root; a folder too long for our buffers cannot be used at all.
static void AddCurrentClosed(PathBuilder *b)
{
  char current[PATH_BUFFER_SIZE];
  if(CurrentDirInto(current, sizeof(current)) == CURRENT_DIR_TOO_LONG) b->fits = 0;
  Add(b, current);
  Close(b);
}

void ConvertPathType(const char *source, char *dest, dword target)
{
  if(source == NULL || dest == NULL) return;

  dword type = GetPathType(source);
  if(type != target && target > PT_LinuxFile) return;

  int rooted = source[0] == '/';
  int prefixed = IsHddLinuxPath(source);
  const char *belowHdd = source + (prefixed ? TAP_FOLDER_LINUX_PREFIX_LEN : 0);

  PathBuilder b;
  Begin(&b);
  if(type == target)
  {
    Add(&b, source);
    if(target == PT_TapDir || target == PT_LinuxDir) Close(&b);
  }
  else if(type == PT_FileName)
  {
    if(target == PT_LinuxDir || target == PT_LinuxFile) Add(&b, TAP_FOLDER_LINUX_PREFIX);
    AddCurrentClosed(&b);
    if(target == PT_TapFile || target == PT_LinuxFile) Add(&b, source);
  }
  else if(type == PT_TapDir)
  {
    if(target == PT_LinuxDir)
    {
      Add(&b, TAP_FOLDER_LINUX_PREFIX);
      if(!rooted) AddCurrentClosed(&b);
      Add(&b, source);
      Close(&b);
    }
    // A folder has no file form: the result stays empty.
  }
  else if(type == PT_LinuxDir)
  {
    if(target == PT_TapDir && prefixed)
    {
      Add(&b, belowHdd);
      Close(&b);
    }
  }
  else if(type == PT_TapFile)
  {
    if(target == PT_FileName)
      Add(&b, NamePart(source));
    else if(target == PT_TapDir)
    {
      AddFolderPart(&b, source);
      Close(&b);
    }
    else if(target == PT_LinuxDir)
    {
      if(rooted)
      {
        Add(&b, TAP_FOLDER_LINUX_PREFIX);
        AddFolderPart(&b, source);
      }
      else
      {
        PathBuilder whole;
        Begin(&whole);
        AddCurrentClosed(&whole);
        Add(&whole, source);
        Add(&b, TAP_FOLDER_LINUX_PREFIX);
        b.fits = b.fits && whole.fits;
        AddFolderPart(&b, whole.text);
      }
      Close(&b);
    }
    else if(target == PT_LinuxFile)
    {
      Add(&b, TAP_FOLDER_LINUX_PREFIX);
      if(!rooted) AddCurrentClosed(&b);
      Add(&b, source);
    }
  }
  else if(type == PT_LinuxFile)
  {
    if(target == PT_FileName)
      Add(&b, NamePart(source));
    else if(target == PT_TapDir)
    {
      if(prefixed)
      {
        AddFolderPart(&b, belowHdd);
        Close(&b);
      }
    }
    else if(target == PT_LinuxDir)
    {
      AddFolderPart(&b, source);
      Close(&b);
    }
    else if(target == PT_TapFile)
    {
      if(prefixed) Add(&b, belowHdd);
    }
  }

  // The source may be the destination itself: copy only at the end.
  StrCopy(dest, PATH_BUFFER_SIZE, b.fits ? b.text : "");
}
