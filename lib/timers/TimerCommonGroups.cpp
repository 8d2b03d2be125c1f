#include "timers_internal.h"

// Bytes 0-183 in every layout, but for the name and the two blocks, which
// the engine copies itself.
const TimerBitGroup TimerCommonGroups[] = {
  TIMER_WHOLE(0, 1, Slot0),
  TIMER_BITS(1, 1, 0, 3, 0, Slot1Bits0to2),
  TIMER_BITS(1, 1, 3, 2, 0, Slot1Bits3to4),
  TIMER_BITS(1, 1, 5, 1, 0, Slot1Bit5),
  TIMER_BITS(1, 1, 6, 2, 0, Slot1Bits6to7),
  TIMER_WHOLE(2, 1, Slot2),
  TIMER_BITS(3, 1, 0, 1, 0, Slot3Bit0),
  TIMER_BITS(3, 1, 1, 3, 0, Slot3Bits1to3),
  TIMER_BITS(3, 1, 4, 4, 0, Slot3Bits4to7),
  TIMER_WHOLE(4, 2, Slot4),
  TIMER_WHOLE(6, 2, Duration),
  TIMER_WHOLE(8, 1, Slot8),
  // 9-139: the name
  TIMER_WHOLE(140, 4, StartTime),
  TIMER_WHOLE(144, 4, Slot144),
  TIMER_WHOLE(148, 2, Slot148),
  TIMER_WHOLE(150, 1, RecordFlag),
  TIMER_WHOLE(151, 1, Slot151),
  TIMER_WHOLE(152, 1, Slot152),
  TIMER_WHOLE(153, 1, Slot153),
  TIMER_WHOLE(154, 2, Slot154),
  TIMER_WHOLE(156, 4, Slot156),
  TIMER_WHOLE(160, 4, Slot160),
  TIMER_WHOLE(164, 4, Slot164),
  TIMER_WHOLE(168, 2, Slot168),
  // 170-177: the first block
  TIMER_WHOLE(178, 1, Slot178),
  // 179-183 (179-191 in the 208-byte ST_TMST layout): the second block
};

const size_t TimerCommonGroupCount = sizeof(TimerCommonGroups) / sizeof(TimerCommonGroups[0]);
