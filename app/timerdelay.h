// Moving recording timers that would start too soon after start-up.
#ifndef BRIMVALE_APP_TIMERDELAY_H
#define BRIMVALE_APP_TIMERDELAY_H

#include "../host/tap.h"

// The receiver's timer paddings in minutes from its EEPROM image: 1 when it
// was there; 0 when not (*pre is then 0, *second untouched).
int DataGetTimerPadding(word *pre, word *second);

// Moves every recording timer that starts, with its pre-recording padding,
// less than two minutes from now one minute later and one minute shorter.
void DelayTimer(void);

#endif
