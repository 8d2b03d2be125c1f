// libFuzzer driver for the broadcast-text converter. Not part of the build:
//
// From the top of the tree:
//   mkdir -p build-fuzz
//   clang++ -DBRIMVALE_FUZZ -g -O1 -fsanitize=fuzzer,address,undefined -I.
//     lib/text/fuzz/StrToUTF8_fuzz.cpp lib/text/StrToUTF8.cpp lib/text/StrToUTF8Bounded.cpp
//     lib/text/UTF32ToUTF8.cpp lib/text/isUTF8Char.cpp lib/text/UTFLookupISO*.cpp
//     -o build-fuzz/StrToUTF8_fuzz
//   build-fuzz/StrToUTF8_fuzz -max_len=4096 -max_total_time=30
//
// Input: byte 0 is the default table, the rest the text. The text gets a
// buffer of exactly its length plus the terminator, and the destination
// exactly the documented 3 bytes per source byte plus one, so AddressSanitizer
// sees any read past the terminator and any write past that bound.
// The main build compiles every .cpp below lib/; without BRIMVALE_FUZZ this
// file is empty there.
#ifdef BRIMVALE_FUZZ

#include <assert.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lib/text/text.h"

// The log is not under test: count its lines instead of writing them.
static int sLogLines;
void LogEntryLibPrintf(int, const char *, ...) { sLogLines++; }

#define MAX_TEXT 4096

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < 1 || size > MAX_TEXT + 1) return 0;
  dword table = data[0];
  const uint8_t *text = data + 1;
  size_t length = size - 1;
  // The text ends at its first zero, as in the receiver.
  const void *zero = memchr(text, 0, length);
  if(zero != NULL) length = (size_t)((const uint8_t *)zero - text);

  // Exactly the text and its terminator: any read past the end is caught.
  size_t sourceSize = length + 1;
  byte *source = (byte *)calloc(sourceSize, 1);
  memcpy(source, text, length);

  size_t bound = 3 * length + 1;
  byte *dest = (byte *)malloc(bound);
  int result = StrToUTF8(source, dest, table);
  assert(result == 0 || result == 1);
  assert(strlen((const char *)dest) < bound);

  // The bounded form either gives the same text or refuses with an empty one.
  size_t small = length / 2 + 1;
  byte *limited = (byte *)malloc(small);
  int limitedResult = StrToUTF8Bounded(source, limited, small, table);
  if(limitedResult < 0)
    assert(limited[0] == 0 && strlen((const char *)dest) >= small);
  else
    assert(strcmp((const char *)limited, (const char *)dest) == 0);

  // Every position of the text: isUTF8Char never reads past the terminator.
  for(size_t k = 0; k < length; k++)
  {
    byte n = 0;
    int is = isUTF8Char(source + k, &n);
    assert(is ? (n >= 2 && n <= 4 && k + n <= length) : n == 1);
  }

  // UTF32ToUTF8 agrees with its own length and with isUTF8Char.
  if(length >= 4)
  {
    dword cp;
    memcpy(&cp, text, 4);
    cp &= 0x1FFFFF;
    byte out[5] = {0};
    byte n = 0;
    int written = UTF32ToUTF8(cp, out, &n);
    assert(written == n && n >= 1 && n <= 4);
    if(n > 1)
    {
      byte check = 0;
      assert(isUTF8Char(out, &check) == 1 && check == n);
    }
  }

  free(limited);
  free(dest);
  free(source);
  return 0;
}

#endif  // BRIMVALE_FUZZ
