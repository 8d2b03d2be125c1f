#include "timers_internal.h"

// Bytes 185 and 186 and the word at 196 pack several fields bit by bit.
static const TimerBitGroup sTail[] = {
  TIMER_WHOLE(184, 1, Tail184),
  TIMER_BITS(185, 1, 0, 1, 0, Tmss185Bit0),
  TIMER_BITS(185, 1, 1, 3, 0, Tail185Bits1to3),
  TIMER_BITS(185, 1, 4, 1, 0, Tmss185Bit4),
  TIMER_BITS(185, 1, 5, 2, 0, Tail185Bits5to6),
  // One field straddles the two bytes: its bit 0 ends byte 185, bits 1-3
  // begin byte 186.
  TIMER_BITS(185, 1, 7, 1, 0, Tmss185Bit7And186Bits0to2),
  TIMER_BITS(186, 1, 0, 3, 1, Tmss185Bit7And186Bits0to2),
  TIMER_BITS(186, 1, 3, 1, 0, Tmss186Bit3),
  TIMER_BITS(186, 1, 4, 4, 0, Tail186Bits4to7),
  TIMER_WHOLE(187, 1, Tmss187),
  TIMER_WHOLE(188, 4, Tail188),
  TIMER_WHOLE(192, 2, Tail192),
  TIMER_WHOLE(194, 2, Tail194),
  TIMER_BITS(196, 2, 0, 1, 0, Tmss196Bit0),
  TIMER_BITS(196, 2, 1, 15, 0, Tmss196Bits1to15),
  TIMER_WHOLE(198, 2, Tail198),
};

const TimerLayout TimerLayout_ST_TMSS = {
  TIMER_SLOT_SIZE_TMSS, TIMER_BLOCK179_SHORT, sTail, sizeof(sTail) / sizeof(sTail[0]),
};
