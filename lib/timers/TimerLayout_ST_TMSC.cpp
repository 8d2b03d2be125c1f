#include "timers_internal.h"

static const TimerBitGroup sTail[] = {
  TIMER_WHOLE(184, 4, Tail188),
  TIMER_WHOLE(188, 2, Tail192),
  TIMER_WHOLE(190, 2, Tail194),
  TIMER_WHOLE(192, 2, Tail198),
  TIMER_WHOLE(194, 1, Tail185Bits5to6),
  TIMER_WHOLE(195, 1, Tail185Bits1to3),
};

const TimerLayout TimerLayout_ST_TMSC = {
  TIMER_SLOT_SIZE_TMSC, TIMER_BLOCK179_SHORT, sTail, sizeof(sTail) / sizeof(sTail[0]),
};
