// libFuzzer driver for the FirmwareTMS.dat loader and the readers on top of
// it (system type, receiver search, date). Not part of the build; from the
// top of the source tree:
//
//   clang++ -DBRIMVALE_FUZZ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. lib/firmware/fuzz/firmware_dat_fuzz.cpp lib/firmware/LoadFirmwareDat.cpp lib/firmware/FirmwareDatFindReceiver.cpp lib/firmware/GetSystemType.cpp lib/firmware/GetSysID.cpp lib/firmware/FirmwareDatMJD.cpp lib/firmware/FirmwareDatWord.cpp lib/firmware/FirmwareDatDword.cpp lib/firmware/FWDATBin.cpp lib/firmware/SystemType.cpp -o firmware_dat_fuzz
//   ./firmware_dat_fuzz -max_len=4096 -max_total_time=60
//
// The receiver is replaced by a small model defined here: one disk file (the
// input), an allocator that hands out blocks of the exact size asked for (so
// a read past the image is caught), and two folders, the caller's and the
// file's, with a folder stack that traps a pop nobody pushed for.
// Input: byte 0 selects failures, bytes 1-2 the receiver's system id, the
// rest is the file.
// The main build compiles every .cpp below lib/; without BRIMVALE_FUZZ this
// file is empty there.
#ifdef BRIMVALE_FUZZ

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/firmware/firmware.h"
#include "lib/firmware/firmware_dat_internal.h"
#include "lib/ini/ini.h"
#include "lib/log/log.h"
#include "lib/paths/paths.h"

#define MAX_INPUT 65536
#define INPUT_PREFIX 3

// Byte 0 of the input.
#define FAIL_FIND 0x01      // the file is nowhere
#define FAIL_OPEN 0x02      // found but cannot be opened
#define FAIL_ALLOC 0x04     // no memory
#define FAIL_READ 0x08      // the read fails
#define FAIL_PUSH 0x10      // the folder stack is full
#define SCRIBBLE 0x20       // a caller overwrites the kept count
#define ID_HIGH_BITS 0x40   // the system id has bits above 16

#define FOLDER_CALLER 0
#define FOLDER_FILE 1
#define CALLER_PATH "/DataFiles"
#define FILE_PATH "/ProgramFiles/Settings"
#define STACK_DEPTH 4

#define CHECK(condition)                                              \
  do                                                                  \
  {                                                                   \
    if(!(condition))                                                  \
    {                                                                 \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                        \
    }                                                                 \
  } while(0)

struct TYPE_File {
  int unused;
};

static const uint8_t *sFile;
static size_t sFileLength;
static unsigned sFlags;
static int sSystemId;
static int sFolder;
static int sStack[STACK_DEPTH];
static int sDepth;
static int sOpenFiles;
static long sLiveBlocks;
static TYPE_File sHandle;

// ---- folders ----
IniLocation INILocateFile(const char *fileName, const char *)
{
  if((sFlags & FAIL_FIND) || strcmp(fileName, FIRMWARE_DAT_NAME) != 0) return IniLoc_None;
  sFolder = FOLDER_FILE;
  return IniLoc_Settings;
}

int HDD_TAP_PushDir(void)
{
  if((sFlags & FAIL_PUSH) || sDepth == STACK_DEPTH) return 0;
  sStack[sDepth++] = sFolder;
  return 1;
}

int HDD_TAP_PopDir(void)
{
  CHECK(sDepth > 0);
  sFolder = sStack[--sDepth];
  return 1;
}

int HDD_TAP_GetCurrentDir(char *dest)
{
  snprintf(dest, PATH_BUFFER_SIZE, "%s", sFolder == FOLDER_FILE ? FILE_PATH : CALLER_PATH);
  return 0;
}

int HDD_ChangeDir(const char *path)
{
  if(strcmp(path, CALLER_PATH) == 0)
    sFolder = FOLDER_CALLER;
  else if(strcmp(path, FILE_PATH) == 0)
    sFolder = FOLDER_FILE;
  else
    return 0;
  return 1;
}

// ---- memory ----
void *TAP_MemAlloc_Chk(const char *, int size)
{
  if((sFlags & FAIL_ALLOC) || size <= 0) return NULL;
  void *block = malloc((size_t)size);
  if(block != NULL) sLiveBlocks++;
  return block;
}

static int FakeFree(const void *block)
{
  CHECK(block != NULL);
  free((void *)block);
  sLiveBlocks--;
  return 1;
}

// ---- the disk ----
static TYPE_File *FakeFopen(const char *name)
{
  if((sFlags & FAIL_OPEN) || sFolder != FOLDER_FILE || strcmp(name, FIRMWARE_DAT_NAME) != 0) return NULL;
  sOpenFiles++;
  return &sHandle;
}

static dword FakeFlen(TYPE_File *file)
{
  CHECK(file == &sHandle);
  return (dword)sFileLength;
}

static dword FakeFread(void *buffer, dword blockSize, dword blocks, TYPE_File *file)
{
  CHECK(file == &sHandle && blocks == 1);
  if((sFlags & FAIL_READ) || blockSize > sFileLength) return 0;
  memcpy(buffer, sFile, blockSize);
  return blocks;
}

static void FakeFclose(TYPE_File *file)
{
  CHECK(file == &sHandle);
  sOpenFiles--;
}

// ---- system ----
static int FakeGetSystemId(void) { return sSystemId; }

// Days since 17 November 1858 for any field values, without overflow.
static int FakeMakeMjd(word year, byte month, byte day)
{
  long y = (long)year - (month <= 2);
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long shifted = ((long)month + 9) % 12;  // March first
  long doy = (153 * shifted + 2) / 5 + (long)day - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (int)(era * 146097 + doe - 678881);
}

extern "C" {
int (*TAP_MemFree)(const void *) = FakeFree;
TYPE_File *(*TAP_Hdd_Fopen)(const char *) = FakeFopen;
dword (*TAP_Hdd_Flen)(TYPE_File *) = FakeFlen;
dword (*TAP_Hdd_Fread)(void *, dword, dword, TYPE_File *) = FakeFread;
void (*TAP_Hdd_Fclose)(TYPE_File *) = FakeFclose;
int (*TAP_GetSystemId)(void) = FakeGetSystemId;
int (*TAP_MakeMjd)(word, byte, byte) = FakeMakeMjd;
}

// The caller's folder, the folder stack and the open files as before the call.
static void CheckLeftAsFound(void)
{
  CHECK(sFolder == FOLDER_CALLER);
  CHECK(sDepth == 0);
  CHECK(sOpenFiles == 0);
}

static void CheckImage(int loaded, byte *header, byte *receivers, byte *rest)
{
  CheckLeftAsFound();
  CHECK(sLiveBlocks == (loaded ? 1 : 0));
  if(!loaded) return;
  CHECK(header == FWDATBin && FWDATLength >= FIRMWARE_DAT_HEADER_SIZE);
  CHECK(receivers == header + FIRMWARE_DAT_HEADER_SIZE);
  CHECK(rest >= receivers && rest <= header + FWDATLength);
  CHECK((size_t)(rest - receivers) % FIRMWARE_DAT_RECORD_SIZE == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < INPUT_PREFIX || size > MAX_INPUT) return 0;
  sFlags = data[0];
  sSystemId = data[1] | (data[2] << 8) | ((sFlags & ID_HIGH_BITS) ? 0x10000 : 0);
  sFile = data + INPUT_PREFIX;
  sFileLength = size - INPUT_PREFIX;
  sFolder = FOLDER_CALLER;

  byte *header = NULL, *receivers = NULL, *rest = NULL;
  int loaded = LoadFirmwareDat(&header, &receivers, &rest);
  CheckImage(loaded, header, receivers, rest);

  dword type = GetSystemType();
  CHECK(GetSystemType() == type);
  dword mjd = FirmwareDatMJD();
  byte *record = FirmwareDatFindReceiver(sSystemId);
  if(!loaded) CHECK(type == 0 && mjd == 0 && record == NULL);
  if(record != NULL) CHECK(record >= receivers && record + FIRMWARE_DAT_RECORD_SIZE <= rest);
  CheckLeftAsFound();

  // A caller writes a count of its own into the kept image: what is read
  // next must still stay inside it.
  if(loaded && (sFlags & SCRIBBLE))
  {
    dword count = (dword)sSystemId * 0x9E3779B1u;
    memcpy(header + FIRMWARE_DAT_COUNT_OFFSET, &count, sizeof(count));
    SystemType = ST_UNKNOWN;
    int again = LoadFirmwareDat(&header, &receivers, &rest);
    CheckImage(again, header, receivers, rest);
    GetSystemType();
    FirmwareDatFindReceiver(sSystemId);
    CheckLeftAsFound();
  }

  // Next input: a fresh run of the plug-in.
  if(FWDATBin != NULL) TAP_MemFree(FWDATBin);
  FWDATBin = NULL;
  FWDATLength = 0;
  SystemType = ST_UNKNOWN;
  CHECK(sLiveBlocks == 0);
  return 0;
}

#endif
