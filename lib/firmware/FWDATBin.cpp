#include "firmware_dat_internal.h"

#include <stddef.h>

byte *FWDATBin = NULL;
dword FWDATLength = 0;
