#include "firmware.h"

dword FirmwareDatDword(const byte *at)
{
  return (dword)at[0] | ((dword)at[1] << 8) | ((dword)at[2] << 16) | ((dword)at[3] << 24);
}
