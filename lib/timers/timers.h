// The firmware's recording timers: one packed slot of its timer table
// converted to and from TimerRecord, which looks the same on every receiver.
//
// Slots are little-endian and byte-packed; their layout depends on the system
// type (lib/firmware: GetSystemType) and, on ST_TMST receivers, on the
// firmware generation, told apart by the distance of its two timer work areas.
#ifndef BRIMVALE_LIB_TIMERS_H
#define BRIMVALE_LIB_TIMERS_H

#include "../../host/tap.h"

// Slot sizes in bytes.
#define TIMER_SLOT_SIZE_TMSS 200
#define TIMER_SLOT_SIZE_TMST200 200
#define TIMER_SLOT_SIZE_TMST 208
#define TIMER_SLOT_SIZE_TMSC 196
#define TIMER_SLOT_SIZE_MAX 208

// The name: up to 130 characters and a terminator that is always there.
#define TIMER_NAME_CHARS 130
#define TIMER_NAME_SIZE (TIMER_NAME_CHARS + 1)

// The two opaque blocks copied as they are. The second is 13 bytes only in the
// 208-byte ST_TMST layout and 5 bytes in all others.
#define TIMER_BLOCK170_SIZE 8
#define TIMER_BLOCK179_SIZE 13

// One timer, unpacked. Apart from Duration, Name, StartTime and RecordFlag the
// meaning of every value is the firmware's: the codec carries it between slot
// and record unchanged. Each field is named after where it sits in the slot:
// fields of the common part (the first 184 bytes, 192 in the 208-byte ST_TMST
// layout) after their byte offset and bits there; tail fields after their
// place in the 200-byte ST_TMSS layout (prefix Tail when other layouts carry
// them too, Tmss when only ST_TMSS does) or else the 200-byte ST_TMST layout
// (prefix Tmst). A field the receiver's layout lacks reads as 0.
typedef struct {
  byte Slot0;
  byte Slot1Bits0to2;            // 3 bits used
  byte Slot1Bits3to4;            // 2 bits used
  byte Slot1Bit5;                // 1 bit used
  byte Slot1Bits6to7;            // 2 bits used
  byte Slot2;
  byte Slot3Bit0;                // 1 bit used
  byte Slot3Bits1to3;            // 3 bits used
  byte Slot3Bits4to7;            // 4 bits used
  word Slot4;
  word Duration;                 // length in minutes
  byte Slot8;
  char Name[TIMER_NAME_SIZE];    // always terminated
  dword StartTime;               // a PackedDateTime (lib/time)
  dword Slot144;
  word Slot148;
  byte RecordFlag;               // 1: the timer records
  byte Slot151;
  byte Slot152;
  byte Slot153;
  word Slot154;
  dword Slot156;
  dword Slot160;
  dword Slot164;
  word Slot168;
  byte Slot170Block[TIMER_BLOCK170_SIZE];
  byte Slot178;
  byte Slot179Block[TIMER_BLOCK179_SIZE];
  // The tail. Slot offsets per layout, "-" where the layout lacks the field:
  //                                  ST_TMSS          ST_TMST200  ST_TMST  ST_TMSC
  byte Tail184;                    // 184              184         192      -
  dword Tail188;                   // 188-191          188-191     196-199  184-187
  word Tail192;                    // 192-193          -           -        188-189
  byte Tmst185;                    // -                185         193      -
  byte Tmst186;                    // -                186         194      -
  word Tail194;                    // 194-195          192-193     200-201  190-191
  word Tail198;                    // 198-199          196-197     204-205  192-193
  word Tmst198;                    // -                198-199     206-207  -
  dword Tmss186Bit3;               // 186 bit 3        -           -        -
  byte Tmss185Bit7And186Bits0to2;  // 185 bit 7 (its bit 0), 186 bits 0-2 (its bits 1-3)
  byte Tail185Bits5to6;            // 185 bits 5-6     -           -        194
  byte Tmss185Bit4;                // 185 bit 4        -           -        -
  byte Tmss185Bit0;                // 185 bit 0        -           -        -
  byte Tmst194;                    // -                194         202      -
  dword Tmss196Bit0;               // 196 bit 0        -           -        -
  word Tail185Bits1to3;            // 185 bits 1-3     187         195      195
  word Tail186Bits4to7;            // 186 bits 4-7     195         203      -
  byte Tmss187;                    // 187              -           -        -
  word Tmss196Bits1to15;           // 196-197 bits 1-15  -         -        -
} TimerRecord;

// The layouts. Decoding clears the record first, so fields the layout lacks
// read as 0; encoding clears the whole slot first, so only what the record
// carries is written back, each value cut to its slot field's width. The name
// is copied up to its first NUL and padded with NULs; the slot's byte 139
// is always 0. 1 on success, 0 only for a null slot or record.
int FlashTimerDecode_ST_TMSS(const void *slot, TimerRecord *record);
int FlashTimerEncode_ST_TMSS(void *slot, const TimerRecord *record);
int FlashTimerDecode_ST_TMST200(const void *slot, TimerRecord *record);
int FlashTimerEncode_ST_TMST200(void *slot, const TimerRecord *record);
int FlashTimerDecode_ST_TMST(const void *slot, TimerRecord *record);
int FlashTimerEncode_ST_TMST(void *slot, const TimerRecord *record);
int FlashTimerDecode_ST_TMSC(const void *slot, TimerRecord *record);
int FlashTimerEncode_ST_TMSC(void *slot, const TimerRecord *record);

// The slot at `slot` decoded into `record` by this receiver's layout. 1 on
// success; 0 for a null argument or a receiver without a known layout, with
// the record untouched.
int FlashTimerDecode(const void *slot, TimerRecord *record);
// `record` encoded into the slot at `slot` by this receiver's layout. 1 on
// success; 0 for a null argument or a receiver without a known layout, with
// the slot untouched.
int FlashTimerEncode(void *slot, const TimerRecord *record);

// The firmware's slot size: the distance from its first timer work area to
// its second, in bytes; 0 when either work area is missing.
int FlashTimerStructSize(void);

// Timer `index` (0-based) of the firmware's live table read into `record`.
// 1 on success; 0 for an index outside 0..TAP_Timer_GetTotalNum()-1, a null
// record, no known layout or no table, with the record untouched.
int FlashTimerGetInfo(int index, TimerRecord *record);
// `record` written over timer `index` of the firmware's live table; the
// slot's previous contents are replaced entirely. 1 on success; 0 as for
// FlashTimerGetInfo, with no byte of the table touched.
int FlashTimerSetInfo(int index, const TimerRecord *record);

#endif
