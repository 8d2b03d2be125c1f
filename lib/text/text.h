// Broadcast text (EN 300 468 character tables, ISO/IEC 6937 by default) to
// UTF-8, and whether the firmware works in UTF-8.
#ifndef BRIMVALE_LIB_TEXT_H
#define BRIMVALE_LIB_TEXT_H

#include "../../host/tap.h"

// Converts `source` into `dest`, which must hold 3 bytes per source byte plus
// the terminator. `defaultTable` (low 8 bits) is the table used when the text
// has no selector. 1 when at least one byte went through a table or the
// composition table; 0 when the text was copied unchanged, declares UTF-8, or
// an argument is null. A selector cut short by the end of the text, an
// unassigned byte, or an ISO 6937 diacritic as the last byte ends the result.
// The selector 0x10 is followed by a 16-bit part number whose high byte a
// broadcast sets to 0x00: in a zero-terminated text that zero ends the text.
int StrToUTF8(const byte *source, byte *dest, dword defaultTable);

// Like StrToUTF8, into `dest` of `size` bytes: -1 with `dest` empty when the
// converted text does not fit (never cut).
int StrToUTF8Bounded(const byte *source, byte *dest, size_t size, dword defaultTable);

// Writes the UTF-8 bytes of `codePoint` (no terminator) to `out` unless it is
// null; returns their number, 1 to 4, also through `lengthOut` unless null.
int UTF32ToUTF8(dword codePoint, byte *out, byte *lengthOut);

// 1 when a well-formed UTF-8 character of 2 to 4 bytes starts at `text`,
// its length in *lengthOut; else 0 with length 1.
int isUTF8Char(const byte *text, byte *lengthOut);

// 1 on a firmware that works with UTF-8 text (it has the firmware's UTF-8
// routine); decided once per run.
int isUTFFirmware(void);

// Character tables: the code points of the bytes 0xA0 to 0xFF, 0 where the
// set leaves a byte unassigned (bytes 0x80 to 0x9F are U+0080 to U+009F in
// every set). ISO/IEC 8859-7 is the 1987 edition.
#define UTF_LOOKUP_FIRST 0xA0
#define UTF_LOOKUP_SIZE 96
extern const word UTFLookupISO8859_1[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_2[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_3[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_4[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_5[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_6[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_7[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_8[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_9[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_10[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_11[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_13[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_14[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_15[UTF_LOOKUP_SIZE];
extern const word UTFLookupISO8859_16[UTF_LOOKUP_SIZE];
// ISO/IEC 6937 as broadcast uses it (euro sign at 0xA4); 0xC1 to 0xCF are
// the non-spacing diacritics as Unicode combining marks.
extern const word UTFLookupISO6937[UTF_LOOKUP_SIZE];

#endif
