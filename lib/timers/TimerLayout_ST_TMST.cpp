#include "timers_internal.h"

// The later ST_TMST firmware: a second block 8 bytes longer pushes the same
// tail as the 200-byte layout's 8 bytes further on.
static const TimerBitGroup sTail[] = {
  TIMER_WHOLE(192, 1, Tail184),
  TIMER_WHOLE(193, 1, Tmst185),
  TIMER_WHOLE(194, 1, Tmst186),
  TIMER_WHOLE(195, 1, Tail185Bits1to3),
  TIMER_WHOLE(196, 4, Tail188),
  TIMER_WHOLE(200, 2, Tail194),
  TIMER_WHOLE(202, 1, Tmst194),
  TIMER_WHOLE(203, 1, Tail186Bits4to7),
  TIMER_WHOLE(204, 2, Tail198),
  TIMER_WHOLE(206, 2, Tmst198),
};

const TimerLayout TimerLayout_ST_TMST = {
  TIMER_SLOT_SIZE_TMST, TIMER_BLOCK179_SIZE, sTail, sizeof(sTail) / sizeof(sTail[0]),
};
