#include "text.h"

#include <stdint.h>
#include <string.h>

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
  const char *letters;
  const char *composed;  // code point of the letter with the mark, per letter
} Composition;

static const Composition kCompositions[] = {
  {"AEIOUaeiou", "\xC0\xC8\xCC\xD2\xD9\xE0\xE8\xEC\xF2\xF9"},              // 0xC1 grave
  {"AEIOUYaeiouy", "\xC1\xC9\xCD\xD3\xDA\xDD\xE1\xE9\xED\xF3\xFA\xFD"},    // 0xC2 acute
  {"AEIOUaeiou", "\xC2\xCA\xCE\xD4\xDB\xE2\xEA\xEE\xF4\xFB"},              // 0xC3 circumflex
  {"ANOano", "\xC3\xD1\xD5\xE3\xF1\xF5"},                                  // 0xC4 tilde
  {"AEIOUaeiouy", "\xC4\xCB\xCF\xD6\xDC\xE4\xEB\xEF\xF6\xFC\xFF"},         // 0xC8 diaeresis
  {"Aa", "\xC5\xE5"},                                                      // 0xCA ring above
  {"Cc", "\xC7\xE7"},                                                      // 0xCB cedilla
};

// The row of kCompositions for each diacritic byte, -1 for one that composes
// nothing: a text in 6937 has a pair every few letters.
static const signed char kCompositionRow[DIACRITIC_LAST - DIACRITIC_FIRST + 1] = {
  -1, 0, 1, 2, 3, -1, -1, -1, 4, -1, 5, 6, -1, -1, -1, -1,
};

// The composed code point of (diacritic, letter), or 0 when they do not compose.
static dword Compose(byte diacritic, byte letter)
{
  int row = kCompositionRow[diacritic - DIACRITIC_FIRST];
  if(row < 0) return 0;
  const Composition *c = &kCompositions[row];
  for(size_t k = 0; c->letters[k] != '\0'; k++)
    if((byte)c->letters[k] == letter) return (byte)c->composed[k];
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

// A machine word of source bytes, tested for ASCII all at once: 4 bytes on
// the receiver, 8 on the PC.
typedef unsigned long Word;
#define WORD_HIGH_BITS ((Word)-1 / 0xFF * 0x80)
// A word at any address: the receiver's compiler makes unaligned loads and
// stores of it (lwl/lwr, swl/swr) where a memcpy of 4 bytes at -Os stays a
// call to the C library.
typedef struct {
  Word value;
} __attribute__((packed, may_alias)) UnalignedWord;

#define IS_CONTINUATION(b) (((b) & 0xC0) == 0x80)

// isUTF8Char's test without a call, for a lead byte from 0xC0 up: the length
// of the well-formed UTF-8 character of 2 to 4 bytes at `s`, 0 when none
// starts there. Each following byte is read only while the ones before it
// were continuation bytes, so the terminator stops the test in time.
static inline size_t Utf8Length(const byte *s)
{
  byte lead = s[0];
  if(lead >= 0xF8 || !IS_CONTINUATION(s[1])) return 0;
  if(lead < 0xE0) return 2;
  if(!IS_CONTINUATION(s[2])) return 0;
  if(lead < 0xF0) return 3;
  return IS_CONTINUATION(s[3]) ? 4 : 0;
}

// The converted text does not fit: nothing of it is kept.
static int Refuse(byte *dest)
{
  dest[0] = '\0';
  return -1;
}

int StrToUTF8Bounded(const byte *source, byte *dest, size_t size, dword defaultTable)
{
  if(source == NULL || dest == NULL || size == 0) return 0;
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
    if(s[1] == '\0' || s[2] == '\0')
    {
      dest[0] = '\0';
      return 0;
    }
    table = s[2];
    s += 3;
  }
  else if(first == SELECTOR_UTF8)
  {
    s += 1;
    size_t length = strlen((const char *)s);
    if(length >= size) return Refuse(dest);
    memcpy(dest, s, length + 1);
    return 0;
  }
  else if(first == SELECTOR_ENCODING_TYPE)
  {
    if(s[1] == '\0')
    {
      dest[0] = '\0';
      return 0;
    }
    s += 2;
  }
  else if(first >= 0x01 && first <= SELECTOR_LAST)
    s += 1;  // multi-byte sets are not supported: read with the default table

  const word *lookup = LookupTable(table);
  int compose = table == TABLE_ISO6937;
  int result = 0;

  // No source byte becomes more than three: room beyond that is never
  // needed, and the end stays inside the caller's buffer (SIZE_MAX from
  // StrToUTF8 included). One byte is kept for the terminator.
  const byte *end = s + strlen((const char *)s);
  size_t room = size - 1;
  if(room / 3 >= (size_t)(end - s)) room = 3 * (size_t)(end - s);
  byte *o = dest;
  byte *const oEnd = dest + room;

  while(s < end)
  {
    byte b = *s;
    if(b < 0x80)
    {
      if(o == oEnd) return Refuse(dest);
      *o++ = b;
      s++;
      if(*s >= 0x80) continue;  // one byte between letters of another script
      // A run of ASCII: whole words while the source and the room last,
      // then byte by byte up to the next byte that needs a look.
      while((size_t)(end - s) >= sizeof(Word) && (size_t)(oEnd - o) >= sizeof(Word))
      {
        Word w = ((const UnalignedWord *)s)->value;
        if(w & WORD_HIGH_BITS) break;
        ((UnalignedWord *)o)->value = w;
        s += sizeof(w);
        o += sizeof(w);
      }
      while((byte)(*s - 1) < 0x7F)  // 0x01 to 0x7F: the terminator ends the run too
      {
        if(o == oEnd) return Refuse(dest);
        *o++ = *s++;
      }
      continue;
    }

    if(b >= 0xC0)
    {
      size_t length = Utf8Length(s);
      if(length != 0)
      {
        if((size_t)(oEnd - o) < length) return Refuse(dest);
        for(size_t k = 0; k < length; k++) o[k] = s[k];
        o += length;
        s += length;
        continue;
      }
      if(compose && b <= DIACRITIC_LAST)
      {
        result = 1;
        dword composed = Compose(b, s[1]);
        if(composed != 0)
        {
          if((size_t)(oEnd - o) < 2) return Refuse(dest);
          o[0] = (byte)(0xC0 | (composed >> 6));
          o[1] = (byte)(0x80 | (composed & 0x3F));
          o += 2;
        }
        else
          LogEntryLibPrintf(1, "StrToUTF8: ISO6937 diacritical char %2.2x %2.2x has been ignored", b, s[1]);
        // A diacritic as the last byte has no letter to carry it: it ends the text.
        if(s[1] == '\0') break;
        s += 2;
        continue;
      }
    }

    result = 1;
    dword codePoint = b < UTF_LOOKUP_FIRST ? b : lookup[b - UTF_LOOKUP_FIRST];
    // An unassigned byte ends the converted text.
    if(codePoint == 0) break;
    // UTF32ToUTF8 without a call: every code point here lies from U+0080
    // to U+FFFF, two or three bytes.
    if(codePoint < 0x800)
    {
      if((size_t)(oEnd - o) < 2) return Refuse(dest);
      o[0] = (byte)(0xC0 | (codePoint >> 6));
      o[1] = (byte)(0x80 | (codePoint & 0x3F));
      o += 2;
    }
    else
    {
      if((size_t)(oEnd - o) < 3) return Refuse(dest);
      o[0] = (byte)(0xE0 | (codePoint >> 12));
      o[1] = (byte)(0x80 | ((codePoint >> 6) & 0x3F));
      o[2] = (byte)(0x80 | (codePoint & 0x3F));
      o += 3;
    }
    s += 1;
  }
  *o = '\0';
  return result;
}
