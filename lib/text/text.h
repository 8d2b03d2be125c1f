// Broadcast text (EN 300 468 character tables, ISO/IEC 6937 by default) to
// UTF-8, and whether the firmware works in UTF-8.
#ifndef BRIMVALE_LIB_TEXT_H
#define BRIMVALE_LIB_TEXT_H

#include "../../host/tap.h"

// Converts `source` into `dest`, which must hold 3 bytes per source byte plus
// the terminator. `defaultTable` (low 8 bits) is the table used when the text
// has no selector. 1 when at least one byte went through a table or the
// composition table; 0 when the text was copied unchanged, declares UTF-8, or
// an argument is null.
int StrToUTF8(const byte *source, byte *dest, dword defaultTable);

// Writes the UTF-8 bytes of `codePoint` (no terminator) to `out` unless it is
// null; returns their number, 1 to 4, also through `lengthOut` unless null.
int UTF32ToUTF8(dword codePoint, byte *out, byte *lengthOut);

// 1 when a well-formed UTF-8 character of 2 to 4 bytes starts at `text`,
// its length in *lengthOut; else 0 with length 1.
int isUTF8Char(const byte *text, byte *lengthOut);

// 1 on a firmware that works with UTF-8 text (it has the firmware's UTF-8
// routine); decided once per run.
int isUTFFirmware(void);

#endif
