// Objects inside the running firmware, found by symbol name at run time.
// Each accessor looks its symbol up on first use and keeps the address; a
// miss is retried on the next call. Null means the firmware lacks the object.
#ifndef BRIMVALE_LIB_FIRMWARE_H
#define BRIMVALE_LIB_FIRMWARE_H

#include "../../host/firmware.h"
#include "../../host/tap.h"

// Address of a symbol in the running firmware's global scope, or null.
void *TryResolve(const char *name);

// The EEPROM image: the pointer stored in the firmware variable, read afresh
// on every call (null while the variable holds null).
void *FIS_vEEPROM(void);
// The timer table: likewise the pointer stored in the firmware variable.
void *FIS_vFlashBlockTimer(void);
// Two consecutive timer slots; their distance is the size of one slot.
void *FIS_vTimerEditInfo(void);
void *FIS_vTimerTempInfo(void);
// The firmware's UTF-8 text routine; only its presence matters.
void *FIS_fwAppl_ConvertToValidUTF8Str(void);
// The plug-in task table (rows of TAP_TASK_ROW_WORDS firmware words).
void *FIS_vTAPTable(void);
// The uint32 index of this plug-in's row in the task table.
void *FIS_vCurTapTask(void);

// ---- The firmware description file FirmwareTMS.dat ----

#define FIRMWARE_DAT_NAME "FirmwareTMS.dat"
#define FIRMWARE_DAT_MAGIC 0x12345678u
#define FIRMWARE_DAT_HEADER_SIZE 20
#define FIRMWARE_DAT_RECORD_SIZE 348

// Fields of the header (offsets in bytes; all numbers little-endian).
#define FIRMWARE_DAT_DAY_OFFSET 4        // 1 byte, 1-31
#define FIRMWARE_DAT_MONTH_OFFSET 5      // 1 byte, 1-12
#define FIRMWARE_DAT_YEAR_OFFSET 6       // 2 bytes
#define FIRMWARE_DAT_RESERVED_OFFSET 8   // 4 bytes, 0 in every valid file
#define FIRMWARE_DAT_COUNT_OFFSET 12     // 4 bytes, signed: receiver records
// Fields of a receiver record.
#define FIRMWARE_DAT_SYSTEM_ID_OFFSET 0      // 2 bytes, low 16 bits of TAP_GetSystemId()
#define FIRMWARE_DAT_SYSTEM_TYPE_OFFSET 292  // 4 bytes, a SYSTEM_TYPE value
#define FIRMWARE_DAT_REMOTE_TYPE_OFFSET 320  // 4 bytes, remote-control type

// System types: they decide the layout of the firmware's timer slots.
typedef enum {
  ST_UNKNOWN = 0,  // not determined
  ST_TMSS = 5,     // 200-byte slots
  ST_TMST = 6,     // 200- or 208-byte slots
  ST_TMSC = 7,     // 196-byte slots
} SYSTEM_TYPE;

// Loads FirmwareTMS.dat once and keeps it for the run. 1 when the image is
// loaded and valid: the out-pointers (each may be null) then receive the
// header, the receiver table and the first byte after it. 0 otherwise, with
// the out-pointers untouched and nothing kept (the next call reads the file
// again). Valid: the magic number, 0 at offset 8, and header and receiver
// table inside the file; a count of 0 or less means no receivers (table and
// rest both at offset 20). The current folder is unchanged.
int LoadFirmwareDat(byte **header, byte **receivers, byte **rest);

// Gives the kept image back to the host, when the plug-in ends. Values read
// from it stay cached; a later LoadFirmwareDat reads the file again.
void FreeFirmwareDat(void);

// The system type of this receiver from its record in FirmwareTMS.dat; 0 when
// it cannot be determined (asked again next time).
dword GetSystemType(void);

// The low 16 bits of TAP_GetSystemId().
word GetSysID(void);

// The date of FirmwareTMS.dat as a Modified Julian Day; 0 when it cannot be
// loaded or its day or month lies outside 1-31 or 1-12.
dword FirmwareDatMJD(void);

// The first receiver record in FirmwareTMS.dat (file order) whose 16-bit
// system id equals systemId; null when the file cannot be loaded or does not
// list the model. The record lies inside the kept image.
byte *FirmwareDatFindReceiver(int systemId);

// The little-endian 16- and 32-bit numbers at `at`, at any alignment.
word FirmwareDatWord(const byte *at);
dword FirmwareDatDword(const byte *at);

#endif
