// The slot layouts as data: one engine walks them in both directions, so
// every layout's decoder and encoder are exact inverses by construction.
#ifndef BRIMVALE_LIB_TIMERS_INTERNAL_H
#define BRIMVALE_LIB_TIMERS_INTERNAL_H

#include <stddef.h>

#include "timers.h"

// One group of bits: bits slotBit.. of the little-endian value of slotBytes
// bytes at slotOffset in the slot, bitCount wide, stand for bits recordBit..
// of the record field at recordOffset (recordBytes wide). Most groups are a
// whole slot field moved to bit 0 of a record field; the ST_TMSS tail packs
// several record fields into one byte or word, and splits one across two.
typedef struct {
  word slotOffset;
  byte slotBytes;
  byte slotBit;
  byte bitCount;
  byte recordBit;
  word recordOffset;
  byte recordBytes;
} TimerBitGroup;

#define TIMER_FIELD(member) (word)offsetof(TimerRecord, member), (byte)sizeof(((TimerRecord *)0)->member)
// A whole slot field of `bytes` bytes at `offset` to or from record `member`.
#define TIMER_WHOLE(offset, bytes, member) {(offset), (bytes), 0, (bytes) * 8, 0, TIMER_FIELD(member)}
// Bits first..first+count-1 of the `bytes`-byte slot value at `offset` to or
// from the record member's bits recordBit.. upwards.
#define TIMER_BITS(offset, bytes, first, count, recordBit, member) \
  {(offset), (bytes), (first), (count), (recordBit), TIMER_FIELD(member)}

// Slot offsets of the part all layouts share.
#define TIMER_SLOT_NAME 9
#define TIMER_SLOT_NAME_END 139   // the name's terminator, always written as 0
#define TIMER_SLOT_BLOCK170 170
#define TIMER_SLOT_BLOCK179 179
#define TIMER_BLOCK179_SHORT 5    // its length in all but the 208-byte ST_TMST layout

typedef struct {
  word slotSize;
  byte block179Bytes;
  const TimerBitGroup *tail;
  byte tailCount;
} TimerLayout;

// The groups of the common part, the same in every layout.
extern const TimerBitGroup TimerCommonGroups[];
extern const size_t TimerCommonGroupCount;

extern const TimerLayout TimerLayout_ST_TMSS;
extern const TimerLayout TimerLayout_ST_TMST200;
extern const TimerLayout TimerLayout_ST_TMST;
extern const TimerLayout TimerLayout_ST_TMSC;

// The little-endian value of `bytes` (1, 2 or 4) bytes; slot fields stand at
// any offset, so they are read and written byte by byte.
static inline dword TimerGetLE(const byte *at, byte bytes)
{
  dword value = 0;
  for(byte i = bytes; i > 0; i--) value = (value << 8) | at[i - 1];
  return value;
}

static inline void TimerPutLE(byte *at, byte bytes, dword value)
{
  for(byte i = 0; i < bytes; i++) at[i] = (byte)(value >> (8 * i));
}

// The low `count` bits set (count 1 to 32).
static inline dword TimerMask(byte count)
{
  return count >= 32 ? 0xFFFFFFFFu : ((dword)1 << count) - 1;
}

// Record fields are ordinary aligned members of 1, 2 or 4 bytes.
static inline dword TimerGetField(const TimerRecord *record, const TimerBitGroup *group)
{
  const byte *field = (const byte *)record + group->recordOffset;
  switch(group->recordBytes)
  {
    case sizeof(word): return *(const word *)field;
    case sizeof(dword): return *(const dword *)field;
    default: return *field;
  }
}

static inline void TimerSetField(TimerRecord *record, const TimerBitGroup *group, dword value)
{
  byte *field = (byte *)record + group->recordOffset;
  switch(group->recordBytes)
  {
    case sizeof(word): *(word *)field = (word)value; break;
    case sizeof(dword): *(dword *)field = value; break;
    default: *field = (byte)value; break;
  }
}

// Clears the record, then fills it from the slot.
void TimerDecodeSlot(const TimerLayout *layout, const byte *slot, TimerRecord *record);
// Clears the slot (layout->slotSize bytes), then fills it from the record.
void TimerEncodeSlot(const TimerLayout *layout, byte *slot, const TimerRecord *record);

// Copies up to TIMER_NAME_CHARS characters, stopping at the first NUL, and
// fills the rest of the TIMER_NAME_CHARS bytes with NULs; dst[TIMER_NAME_CHARS]
// is not touched.
void TimerCopyName(char *dst, const char *src);

// The layout of this receiver's timer slots, or null when the system type is
// undetermined or unsupported, or when an ST_TMST firmware's slot size cannot
// be derived or is neither of its two generations'.
const TimerLayout *TimerReceiverLayout(void);

// Slot `index` of the firmware's live timer table and, through *layout, its
// layout; null when the index lies outside 0..TAP_Timer_GetTotalNum()-1, the
// layout is unknown or the firmware has no table.
byte *TimerLiveSlot(int index, const TimerLayout **layout);

#endif
