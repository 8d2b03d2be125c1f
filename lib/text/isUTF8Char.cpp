#include "text.h"

#include <stddef.h>

#define IS_CONTINUATION(b) (((b) & 0xC0) == 0x80)

int isUTF8Char(const byte *text, byte *lengthOut)
{
  int length = 1;
  if(text != NULL)
  {
    byte lead = text[0];
    int expected = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    // Each following byte is looked at only while the ones before it were
    // continuation bytes, so a terminating zero stops the test in time.
    int k = 1;
    while(k < expected && IS_CONTINUATION(text[k])) k++;
    if(expected > 1 && k == expected) length = expected;
  }
  if(lengthOut != NULL) *lengthOut = (byte)length;
  return length > 1;
}
