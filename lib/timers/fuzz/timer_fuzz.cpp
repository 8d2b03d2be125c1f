// libFuzzer driver for the four timer slot layouts. Not part of the build:
//
//   cd lib/timers/fuzz
//   clang++ -DBRIMVALE_FUZZ -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all timer_fuzz.cpp ../FlashTimer*_ST_*.cpp ../TimerLayout_*.cpp ../TimerCommonGroups.cpp ../TimerDecodeSlot.cpp ../TimerEncodeSlot.cpp ../TimerCopyName.cpp -o /tmp/timer_fuzz
//   /tmp/timer_fuzz -max_total_time=60
//
// The layout functions are pure but for the host's TAP_MemSet and TAP_MemCpy,
// defined here. Every slot and record lives in a heap block of its exact size,
// so the sanitizer sees any access past its end. For each layout the input is
// taken as slot bytes (zero-padded or cut to the slot size) and as a record:
//   - decode, encode, decode: both decodes are the same record, and the slot
//     comes back byte for byte but for the name's terminator (byte 139) and
//     the name characters after its first NUL, which become 0;
//   - the decoded name is always terminated;
//   - an arbitrary record (its name possibly unterminated) encodes to a slot
//     that decodes and encodes to the same slot again.
// The main build compiles every .cpp below lib/; without BRIMVALE_FUZZ this
// file is empty there.
#ifdef BRIMVALE_FUZZ

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../timers.h"

static void MemSet(void *dest, byte c, dword count) { memset(dest, c, count); }
static void MemCpy(void *dest, const void *src, dword count) { memmove(dest, src, count); }
void (*TAP_MemSet)(void *, byte, dword) = MemSet;
void (*TAP_MemCpy)(void *, const void *, dword) = MemCpy;

#define NAME_OFFSET 9
#define NAME_END 139

typedef struct {
  int (*decode)(const void *, TimerRecord *);
  int (*encode)(void *, const TimerRecord *);
  size_t size;
} Layout;

static const Layout kLayouts[] = {
  {FlashTimerDecode_ST_TMSS, FlashTimerEncode_ST_TMSS, TIMER_SLOT_SIZE_TMSS},
  {FlashTimerDecode_ST_TMST200, FlashTimerEncode_ST_TMST200, TIMER_SLOT_SIZE_TMST200},
  {FlashTimerDecode_ST_TMST, FlashTimerEncode_ST_TMST, TIMER_SLOT_SIZE_TMST},
  {FlashTimerDecode_ST_TMSC, FlashTimerEncode_ST_TMSC, TIMER_SLOT_SIZE_TMSC},
};

#define CHECK(condition) \
  do { if(!(condition)) __builtin_trap(); } while(0)

static void *Copy(const uint8_t *data, size_t size, size_t want)
{
  uint8_t *block = (uint8_t *)malloc(want);
  memset(block, 0, want);
  if(size > 0) memcpy(block, data, size < want ? size : want);
  return block;
}

static void CheckLayout(const Layout *l, const uint8_t *data, size_t size)
{
  uint8_t *slot = (uint8_t *)Copy(data, size, l->size);
  uint8_t *again = (uint8_t *)malloc(l->size);
  uint8_t *third = (uint8_t *)malloc(l->size);
  TimerRecord *first = (TimerRecord *)malloc(sizeof(TimerRecord));
  TimerRecord *second = (TimerRecord *)malloc(sizeof(TimerRecord));

  CHECK(l->decode(slot, first) == 1);
  CHECK(first->Name[TIMER_NAME_CHARS] == '\0');
  CHECK(l->encode(again, first) == 1);
  CHECK(l->decode(again, second) == 1);
  CHECK(memcmp(first, second, sizeof(TimerRecord)) == 0);

  int ended = 0;
  for(size_t i = 0; i < l->size; i++)
  {
    if(i < NAME_OFFSET || i > NAME_END)
    {
      CHECK(again[i] == slot[i]);
      continue;
    }
    ended |= slot[i] == 0 || i == NAME_END;
    CHECK(again[i] == (ended ? 0 : slot[i]));
  }

  // Any record at all, the name's terminator included, is taken as it comes.
  TimerRecord *arbitrary = (TimerRecord *)Copy(data, size, sizeof(TimerRecord));
  CHECK(l->encode(again, arbitrary) == 1);
  CHECK(again[NAME_END] == 0);
  CHECK(l->decode(again, second) == 1);
  CHECK(l->encode(third, second) == 1);
  CHECK(memcmp(again, third, l->size) == 0);

  free(arbitrary);
  free(second);
  free(first);
  free(third);
  free(again);
  free(slot);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  for(size_t i = 0; i < sizeof(kLayouts) / sizeof(kLayouts[0]); i++) CheckLayout(&kLayouts[i], data, size);
  return 0;
}

#endif
