#include "text.h"

#include <stddef.h>

int UTF32ToUTF8(dword codePoint, byte *out, byte *lengthOut)
{
  byte bytes[4];
  int length;
  if(codePoint < 0x80)
  {
    bytes[0] = (byte)codePoint;
    length = 1;
  }
  else if(codePoint < 0x800)
  {
    bytes[0] = (byte)(0xC0 | (codePoint >> 6));
    bytes[1] = (byte)(0x80 | (codePoint & 0x3F));
    length = 2;
  }
  else if(codePoint < 0x10000)
  {
    bytes[0] = (byte)(0xE0 | (codePoint >> 12));
    bytes[1] = (byte)(0x80 | ((codePoint >> 6) & 0x3F));
    bytes[2] = (byte)(0x80 | (codePoint & 0x3F));
    length = 3;
  }
  else
  {
    // Beyond U+10FFFF the lead byte keeps only its three value bits.
    bytes[0] = (byte)(0xF0 | ((codePoint >> 18) & 0x07));
    bytes[1] = (byte)(0x80 | ((codePoint >> 12) & 0x3F));
    bytes[2] = (byte)(0x80 | ((codePoint >> 6) & 0x3F));
    bytes[3] = (byte)(0x80 | (codePoint & 0x3F));
    length = 4;
  }
  if(out != NULL)
    for(int k = 0; k < length; k++) out[k] = bytes[k];
  if(lengthOut != NULL) *lengthOut = (byte)length;
  return length;
}
