// The receiver's plug-in interface (libtap.so on the receiver).
//
// The firmware offers every function as a pointer variable that the plug-in
// imports by name and calls through; the plug-in never defines them. In the
// emulator the same variables are defined by the stand-in receiver.
#ifndef BRIMVALE_HOST_TAP_H
#define BRIMVALE_HOST_TAP_H

#include <stddef.h>
#include <stdint.h>

typedef uint8_t byte;
typedef uint16_t word;
typedef uint32_t dword;

// Visibility of the few symbols that leave the plug-in; everything else is
// hidden by the build.
#define TAP_EXPORT __attribute__((visibility("default")))

// Events delivered to the event handler.
#define EVT_IDLE 0x0000
#define EVT_KEY 0x0100
#define EVT_STOP 0x0900

// Attributes of TAP_Hdd_Create.
#define ATTR_NORMAL 208  // a file
#define ATTR_FOLDER 224  // a folder

// Origins of TAP_Hdd_Fseek.
#define SEEK_ORIGIN_START 0
#define SEEK_ORIGIN_CURRENT 1
#define SEEK_ORIGIN_END 2

// System variables of TAP_GetSystemVar / TAP_SetSystemVar.
#define SYSVAR_LANGUAGE 1
#define SYSVAR_TIMESHIFT 17
#define SYSVAR_TIMESHIFT_STORAGE 18
#define LANGUAGE_GERMAN 2

// TAP_GetState: the receiver's main state. While it is STATE_NO_MOUNTING the
// plug-in probes and mounts nothing; what the firmware means by it is its own.
#define STATE_NORMAL 2
#define STATE_NO_MOUNTING 6

// Ticks are 10 ms: settings in seconds are multiplied by this.
#define TICKS_PER_SECOND 100

// The host's disk file handle; opaque to the plug-in.
typedef struct TYPE_File TYPE_File;

// Image descriptor of TAP_Osd_PutGd: pixel data compressed by the host's
// method, decompressed and drawn by the host. 16 bytes on the receiver; the
// data address is a pointer-sized word, so the descriptor is longer on a
// 64-bit PC.
#define GD_VERSION 1
#define GD_FORMAT_ARGB1555 0  // 2 bytes per pixel
#define GD_FORMAT_ARGB8888 1  // 4 bytes per pixel
#define GD_COMPRESSION_HOST 2 // the host's method: in this host a zlib stream

typedef struct TYPE_GrData {
  byte version;           // GD_VERSION
  byte reserved;
  byte psize;             // GD_FORMAT_*
  byte compression;       // GD_COMPRESSION_HOST
  const byte *data;       // compressed pixel data
  dword dataSize;         // pixel bytes after decompression: width x height x bytes per pixel
  word width;
  word height;
} TYPE_GrData;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TYPE_GrData) == 16, "image descriptor is 16 bytes on the receiver");
#endif

// An event handler: the result equal to param1 passes a key on, 0 consumes it.
typedef dword (*TAP_EventHandlerFn)(dword event, dword param1, dword param2);
typedef int (*TAP_MainFn)(void);

// Filled by the plug-in's __TAP_Init_ with its two entry points.
typedef struct {
  TAP_MainFn main;
  TAP_EventHandlerFn eventHandler;
} TAP_EntryRecord;

#ifdef __cplusplus
extern "C" {
#endif

// Time: ticks of 10 ms since the receiver started; local date as a 16-bit
// Modified Julian Day.
extern dword (*TAP_GetTick)(void);
extern int (*TAP_GetTime)(word *mjd, byte *hour, byte *min, byte *sec);
extern int (*TAP_ExtractMjd)(dword mjd, word *year, byte *month, byte *day, byte *weekDay);
extern int (*TAP_MakeMjd)(word year, byte month, byte day);

// System.
extern int (*TAP_GetSystemVar)(int varId);
extern int (*TAP_SetSystemVar)(int varId, int value);
extern int (*TAP_WriteSystemVar)(void);
extern int (*TAP_GetState)(dword *state, dword *subState);
extern int (*TAP_GetSystemId)(void);
extern void (*TAP_Exit)(void);
extern void (*TAP_Sleep)(dword ticks);
extern word (*TAP_Timer_GetTotalNum)(void);

// Text. TAP_SPrint has no bound: the plug-in formats fixed buffers with
// StrFormat (lib/str) instead.
extern void (*TAP_SPrint)(char *s, const char *fmt, ...);
extern void (*TAP_Print)(const char *fmt, ...);

// Memory: TAP_MemAlloc yields null on exhaustion.
extern void *(*TAP_MemAlloc)(dword size);
extern int (*TAP_MemFree)(const void *addr);
extern void (*TAP_MemSet)(void *dest, byte c, dword count);
extern void (*TAP_MemCpy)(void *dest, const void *src, dword count);
extern int (*TAP_MemCmp)(const void *a, const void *b, dword count);

// Disk: names relative to the plug-in's current folder, in the host's
// notation ("/ProgramFiles" for what the shell sees as /mnt/hd/ProgramFiles).
extern int (*TAP_Hdd_ChangeDir)(const char *dir);
extern int (*TAP_Hdd_Exist)(const char *name);
extern int (*TAP_Hdd_Create)(const char *name, byte attr);
extern int (*TAP_Hdd_Delete)(const char *name);
extern TYPE_File *(*TAP_Hdd_Fopen)(const char *name);
extern dword (*TAP_Hdd_Flen)(TYPE_File *file);
extern dword (*TAP_Hdd_Fseek)(TYPE_File *file, long pos, long origin);
extern dword (*TAP_Hdd_Fread)(void *buf, dword blockSize, dword blocks, TYPE_File *file);
extern dword (*TAP_Hdd_Fwrite)(const void *buf, dword blockSize, dword blocks, TYPE_File *file);
extern void (*TAP_Hdd_Fclose)(TYPE_File *file);

// Screen: regions are 16-bit numbers, colours 32-bit ARGB.
extern word (*TAP_Osd_Create)(dword x, dword y, dword w, dword h, byte lutIdx, int flag);
extern int (*TAP_Osd_Delete)(word rgn);
extern int (*TAP_Osd_Draw3dBoxFill)(word rgn, dword x, dword y, dword w, dword h,
                                    dword c1, dword c2, dword fc);
extern int (*TAP_Osd_PutS)(word rgn, dword x, dword y, dword maxX, const char *str,
                           dword fcolor, dword bcolor, byte fntType, byte fntSize,
                           byte bDot, byte align);
extern int (*TAP_Osd_PutGd)(word rgn, int x, int y, const TYPE_GrData *gd, int sprite);
extern int (*TAP_Osd_GetW)(const char *str, byte fntType, byte fntSize);
extern void (*TAP_Osd_Sync)(void);
extern void (*TAP_SysOsdControl)(int osdId, int ctrl);

#ifdef __cplusplus
}
#endif

// Offered by newer hosts only, so never imported: a plug-in that imported it
// would not load on a host without it. Looked up by name at run time
// (TryResolve), which yields the address of the host's pointer variable.
// Renames a file in the current folder; 1 on success. An existing newName is
// not replaced.
#define TAP_SYM_HDD_RENAME "TAP_Hdd_Rename"
typedef int (*TAP_Hdd_RenameFn)(const char *oldName, const char *newName);

#endif
