#include "text.h"

#include <stdint.h>

int StrToUTF8(const byte *source, byte *dest, dword defaultTable)
{
  // The caller sized `dest` at three bytes per source byte plus one, which
  // every conversion fits.
  return StrToUTF8Bounded(source, dest, SIZE_MAX, defaultTable);
}
