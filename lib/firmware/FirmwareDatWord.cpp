#include "firmware.h"

word FirmwareDatWord(const byte *at)
{
  return (word)(at[0] | (at[1] << 8));
}
