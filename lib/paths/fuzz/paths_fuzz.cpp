// libFuzzer driver for path classification and conversion, and for
// HDD_ChangeDir and the stack on top of them. Not part of the build:
//
// From the top of the tree:
//   mkdir -p build-fuzz
//   clang++ -DBRIMVALE_FUZZ -g -O1 -fsanitize=fuzzer,address,undefined -I.
//     lib/paths/fuzz/paths_fuzz.cpp lib/paths/*.cpp lib/str/*.cpp
//     lib/text/StrToUTF8Bounded.cpp lib/text/UTF32ToUTF8.cpp lib/text/isUTF8Char.cpp
//     lib/text/isUTFFirmware.cpp lib/text/UTFLookupISO*.cpp -o build-fuzz/paths_fuzz
//   build-fuzz/paths_fuzz -max_len=2048 -max_total_time=30
//
// The receiver is replaced by a small pure model defined here: the firmware's
// task table with a current folder taken from the input, a C library whose
// lstat64 answers from the names alone, and a folder change that always
// succeeds.
// Input: byte 0 the target notation, then the current folder, a 0x01 byte,
// and the path. Each text is NUL-terminated in a buffer of its exact size.
// The main build compiles every .cpp below lib/; without BRIMVALE_FUZZ this
// file is empty there.
#ifdef BRIMVALE_FUZZ

#include <assert.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "host/clib.h"
#include "host/firmware.h"
#include "lib/paths/paths.h"
#include "lib/paths/paths_internal.h"

#define MAX_INPUT 2048

// ---- the model receiver ----
static FirmwareWord sTaskTable[TAP_TASK_ROW_WORDS];
static uint32_t sCurrentTask;
static FirmwareWord sFolderObject[TAP_FOLDER_WORDS];
static char *sFolderPath;  // "/mnt/hd" + the current folder

void *FIS_vTAPTable(void) { return sTaskTable; }
void *FIS_vCurTapTask(void) { return &sCurrentTask; }
void *FIS_fwAppl_ConvertToValidUTF8Str(void) { return (void *)&sCurrentTask; }  // a UTF-8 firmware
void LogEntryLibPrintf(int, const char *, ...) {}

static int FakeChangeDir(const char *dir)
{
  assert(dir != NULL && strlen(dir) < PATH_BUFFER_SIZE);
  return 1;
}
static int FakeMemCmp(const void *a, const void *b, dword count) { return memcmp(a, b, count); }

extern "C" {
int (*TAP_Hdd_ChangeDir)(const char *) = FakeChangeDir;
int (*TAP_MemCmp)(const void *, const void *, dword) = FakeMemCmp;
}

// A name whose last part starts with 'D' is a folder, with 'F' a file; all
// else does not exist.
static int ModelLstat(const char *path, struct stat64 *info)
{
  size_t length = strlen(path);
  while(length > 0 && path[length - 1] == '/') length--;
  size_t start = length;
  while(start > 0 && path[start - 1] != '/') start--;
  memset(info, 0, sizeof(*info));
  if(start < length && path[start] == 'D')
    info->st_mode = S_IFDIR;
  else if(start < length && path[start] == 'F')
    info->st_mode = S_IFREG;
  else
  {
    errno = ENOENT;
    return -1;
  }
  return 0;
}

void *TryResolve(const char *name)
{
  return strcmp(name, CLIB_SYM_LSTAT64) == 0 ? (void *)ModelLstat : NULL;
}

static char *Text(const uint8_t *data, size_t length)
{
  char *text = (char *)malloc(length + 1);
  memcpy(text, data, length);
  text[length] = '\0';
  return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < 1 || size > MAX_INPUT) return 0;
  dword target = data[0] % 7;  // 5 and 6: no such notation
  const uint8_t *rest = data + 1;
  size_t restLength = size - 1;
  const uint8_t *split = (const uint8_t *)memchr(rest, 0x01, restLength);
  size_t folderLength = split != NULL ? (size_t)(split - rest) : 0;
  const uint8_t *pathStart = split != NULL ? split + 1 : rest;
  size_t pathLength = restLength - (size_t)(pathStart - rest);

  char *folder = Text(rest, folderLength);
  free(sFolderPath);
  sFolderPath = (char *)malloc(TAP_FOLDER_LINUX_PREFIX_LEN + strlen(folder) + 1);
  strcpy(sFolderPath, TAP_FOLDER_LINUX_PREFIX);
  strcat(sFolderPath, folder);
  sFolderObject[TAP_FOLDER_PATH_WORD] = (FirmwareWord)sFolderPath;
  sTaskTable[TAP_TASK_FOLDER_WORD] = (FirmwareWord)sFolderObject;
  char *path = Text(pathStart, pathLength);

  dword type = GetPathType(path);
  assert(type <= PT_LinuxFile);

  char dest[PATH_BUFFER_SIZE];
  strcpy(dest, "sentinel");
  ConvertPathType(path, dest, target);
  assert(strlen(dest) < PATH_BUFFER_SIZE);
  if(target > PT_LinuxFile && type != target) assert(strcmp(dest, "sentinel") == 0);
  if((target == PT_TapDir || target == PT_LinuxDir) && dest[0] != '\0') assert(dest[strlen(dest) - 1] == '/');
  if(target == PT_LinuxDir || target == PT_LinuxFile)
    assert(dest[0] == '\0' || type == target || strncmp(dest, "/mnt/hd", 7) == 0 || type == PT_LinuxFile);

  StringEndsWith(path, folder);

  // The stack and the folder change on top: pairs always balance.
  int depth = TAPDirStackDepth;
  int pushed = HDD_TAP_PushDir();
  assert(pushed ? TAPDirStackDepth == depth + 1 : TAPDirStackDepth == depth);
  HDD_ChangeDir(path);
  if(pushed) HDD_TAP_PopDir();
  assert(TAPDirStackDepth == depth);

  free(path);
  free(folder);
  return 0;
}

#endif  // BRIMVALE_FUZZ
