#include "firmware.h"

word GetSysID(void)
{
  // FirmwareTMS.dat lists models under 16-bit ids.
  return (word)TAP_GetSystemId();
}
