#include "firmware_dat_internal.h"

dword SystemType = ST_UNKNOWN;
