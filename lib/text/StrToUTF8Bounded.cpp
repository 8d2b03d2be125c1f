#include "text.h"

#include <stdint.h>

#include "../log/log.h"

// EN 300 468 character table selectors at the start of a text.
#define SELECTOR_LAST_SINGLE 0x0B      // 0x01..0x0B: ISO/IEC 8859-5 .. -15
#define SELECTOR_SINGLE_OFFSET 4       // 0x01 -> table 5
#define SELECTOR_PART_NUMBER 0x10      // 0x10 0x00 N: ISO/IEC 8859-N
#define SELECTOR_UTF8 0x15             // the rest is UTF-8 already
#define SELECTOR_ENCODING_TYPE 0x1F    // 0x1F E: an encoding we cannot read; E skipped
#define SELECTOR_LAST 0x1F

#define TABLE_ISO6937 0      // default of broadcast data; the only one that composes
#define TABLE_NOT_8859 12    // no ISO/IEC 8859-12 exists
#define TABLE_LAST_8859 16

#define DIACRITIC_FIRST 0xC0
#define DIACRITIC_LAST 0xCF

// ISO/IEC 6937 puts a non-spacing diacritic before its letter; these pairs
// compose to a precomposed letter, and no other pair does. The results all
// lie in U+00C0 to U+00FF, so one byte holds each code point.
typedef struct {
  byte diacritic;
  const char *letters;
  const char *composed;  // code point of the letter with the mark, per letter
} Composition;

static const Composition kCompositions[] = {
  {0xC1, "AEIOUaeiou", "\xC0\xC8\xCC\xD2\xD9\xE0\xE8\xEC\xF2\xF9"},              // grave
  {0xC2, "AEIOUYaeiouy", "\xC1\xC9\xCD\xD3\xDA\xDD\xE1\xE9\xED\xF3\xFA\xFD"},    // acute
  {0xC3, "AEIOUaeiou", "\xC2\xCA\xCE\xD4\xDB\xE2\xEA\xEE\xF4\xFB"},              // circumflex
  {0xC4, "ANOano", "\xC3\xD1\xD5\xE3\xF1\xF5"},                                  // tilde
  {0xC8, "AEIOUaeiouy", "\xC4\xCB\xCF\xD6\xDC\xE4\xEB\xEF\xF6\xFC\xFF"},         // diaeresis
  {0xCA, "Aa", "\xC5\xE5"},                                                      // ring above
  {0xCB, "Cc", "\xC7\xE7"},                                                      // cedilla
};

// The composed code point of (diacritic, letter), or 0 when they do not compose.
static dword Compose(byte diacritic, byte letter)
{
  for(size_t row = 0; row < sizeof(kCompositions) / sizeof(kCompositions[0]); row++)
  {
    if(kCompositions[row].diacritic != diacritic) continue;
    for(size_t k = 0; kCompositions[row].letters[k] != '\0'; k++)
      if((byte)kCompositions[row].letters[k] == letter) return (byte)kCompositions[row].composed[k];
  }
  return 0;
}

static const word *LookupTable(dword table)
{
  static const word *const k8859[TABLE_LAST_8859 + 1] = {
    NULL, UTFLookupISO8859_1, UTFLookupISO8859_2, UTFLookupISO8859_3, UTFLookupISO8859_4,
    UTFLookupISO8859_5, UTFLookupISO8859_6, UTFLookupISO8859_7, UTFLookupISO8859_8,
    UTFLookupISO8859_9, UTFLookupISO8859_10, UTFLookupISO8859_11, NULL,
    UTFLookupISO8859_13, UTFLookupISO8859_14, UTFLookupISO8859_15, UTFLookupISO8859_16,
  };
  if(table <= TABLE_LAST_8859 && k8859[table] != NULL) return k8859[table];
  return UTFLookupISO6937;
}

// Output that never runs past its buffer: one byte is always kept for the
// terminator, and a piece that does not fit marks the whole result as lost.
typedef struct {
  byte *dest;
  size_t size;
  size_t used;
  int overflow;
} Output;

static void Put(Output *out, const byte *bytes, size_t count)
{
  if(out->overflow || count >= out->size - out->used)
  {
    out->overflow = 1;
    return;
  }
  for(size_t k = 0; k < count; k++) out->dest[out->used++] = bytes[k];
}

static void PutCodePoint(Output *out, dword codePoint)
{
  byte bytes[4];
  byte length = 0;
  UTF32ToUTF8(codePoint, bytes, &length);
  Put(out, bytes, length);
}

static int Finish(Output *out, int result)
{
  if(out->overflow)
  {
    out->dest[0] = '\0';
    return -1;
  }
  out->dest[out->used] = '\0';
  return result;
}

int StrToUTF8Bounded(const byte *source, byte *dest, size_t size, dword defaultTable)
{
  if(source == NULL || dest == NULL || size == 0) return 0;
  Output out = {dest, size, 0, 0};
  dword table = defaultTable & 0xFF;
  const byte *s = source;

  byte first = s[0];
  if(first >= 0x01 && first <= SELECTOR_LAST_SINGLE)
  {
    table = first + SELECTOR_SINGLE_OFFSET;
    s += 1;
  }
  else if(first == SELECTOR_PART_NUMBER)
  {
    // Broadcast texts give the part number as 0x00 N; in a zero-terminated
    // text that zero is the end, and nothing after the end is ever read.
    if(s[1] == '\0' || s[2] == '\0') return Finish(&out, 0);
    table = s[2];
    s += 3;
  }
  else if(first == SELECTOR_UTF8)
  {
    s += 1;
    size_t length = 0;
    while(s[length] != '\0') length++;
    Put(&out, s, length);
    return Finish(&out, 0);
  }
  else if(first == SELECTOR_ENCODING_TYPE)
  {
    if(s[1] == '\0') return Finish(&out, 0);
    s += 2;
  }
  else if(first >= 0x01 && first <= SELECTOR_LAST)
    s += 1;  // multi-byte sets are not supported: read with the default table

  const word *lookup = LookupTable(table);
  int compose = table == TABLE_ISO6937;
  int result = 0;

  while(*s != '\0' && !out.overflow)
  {
    byte b = *s;
    byte length = 1;
    if(b < 0x80)
    {
      Put(&out, s, 1);
      s += 1;
    }
    else if(isUTF8Char(s, &length))
    {
      Put(&out, s, length);
      s += length;
    }
    else if(compose && b >= DIACRITIC_FIRST && b <= DIACRITIC_LAST)
    {
      result = 1;
      dword composed = Compose(b, s[1]);
      if(composed != 0)
        PutCodePoint(&out, composed);
      else
        LogEntryLibPrintf(1, "StrToUTF8: ISO6937 diacritical char %2.2x %2.2x has been ignored", b, s[1]);
      // A diacritic as the last byte has no letter to carry it: it ends the text.
      if(s[1] == '\0') break;
      s += 2;
    }
    else
    {
      result = 1;
      dword codePoint = b < UTF_LOOKUP_FIRST ? b : lookup[b - UTF_LOOKUP_FIRST];
      // An unassigned byte ends the converted text.
      if(codePoint == 0) break;
      PutCodePoint(&out, codePoint);
      s += 1;
    }
  }
  return Finish(&out, result);
}
