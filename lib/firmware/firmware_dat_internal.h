// The kept image of FirmwareTMS.dat and what has been learnt from it; shared
// by the description-file functions of this folder only.
#ifndef BRIMVALE_LIB_FIRMWARE_DAT_INTERNAL_H
#define BRIMVALE_LIB_FIRMWARE_DAT_INTERNAL_H

#include "firmware.h"

// The whole file, from TAP_MemAlloc_Chk; null until a valid file has been
// read, freed again only when its contents prove invalid.
extern byte *FWDATBin;
// Its length in bytes: nothing at or past FWDATBin + FWDATLength is read.
extern dword FWDATLength;

// The system type once a receiver record has given one; ST_UNKNOWN before.
extern dword SystemType;

#endif
