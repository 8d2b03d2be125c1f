#include "timers_internal.h"

void TimerCopyName(char *dst, const char *src)
{
  size_t i = 0;
  for(; i < TIMER_NAME_CHARS && src[i] != '\0'; i++) dst[i] = src[i];
  for(; i < TIMER_NAME_CHARS; i++) dst[i] = '\0';
}
