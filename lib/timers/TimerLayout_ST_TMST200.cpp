#include "timers_internal.h"

static const TimerBitGroup sTail[] = {
  TIMER_WHOLE(184, 1, Tail184),
  TIMER_WHOLE(185, 1, Tmst185),
  TIMER_WHOLE(186, 1, Tmst186),
  TIMER_WHOLE(187, 1, Tail185Bits1to3),
  TIMER_WHOLE(188, 4, Tail188),
  TIMER_WHOLE(192, 2, Tail194),
  TIMER_WHOLE(194, 1, Tmst194),
  TIMER_WHOLE(195, 1, Tail186Bits4to7),
  TIMER_WHOLE(196, 2, Tail198),
  TIMER_WHOLE(198, 2, Tmst198),
};

const TimerLayout TimerLayout_ST_TMST200 = {
  TIMER_SLOT_SIZE_TMST200, TIMER_BLOCK179_SHORT, sTail, sizeof(sTail) / sizeof(sTail[0]),
};
