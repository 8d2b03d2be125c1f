#include "host_counters.h"

#include <cstdarg>
#include <cstdio>

#include "host/tap.h"

namespace bench {

namespace {

struct Counter {
  const char *name;
  uint64_t *calls;
  void (*restore)();
};

std::vector<Counter> &Counters()
{
  static std::vector<Counter> counters;
  return counters;
}

// One stand-in per pointer variable: counts, then calls what was there.
template <typename Fn, Fn *Var>
struct Counted;

template <typename R, typename... A, R (**Var)(A...)>
struct Counted<R (*)(A...), Var> {
  static inline R (*original)(A...) = nullptr;
  static inline uint64_t calls = 0;
  static R Call(A... args)
  {
    ++calls;
    return original(args...);
  }
  static void Install(const char *name)
  {
    original = *Var;
    *Var = Call;
    Counters().push_back(Counter{name, &calls, [] { *Var = original; }});
  }
};

#define COUNT(var) Counted<decltype(var), &var>::Install(#var)

// The two with a format: formatted here, handed on as text.
uint64_t g_sprint_calls = 0, g_print_calls = 0;
void (*g_print)(const char *, ...) = nullptr;
void (*g_sprint)(char *, const char *, ...) = nullptr;

void CountedSPrint(char *s, const char *fmt, ...)
{
  ++g_sprint_calls;
  va_list args;
  va_start(args, fmt);
  std::vsprintf(s, fmt, args);  // unbounded, as the host's
  va_end(args);
}

void CountedPrint(const char *fmt, ...)
{
  ++g_print_calls;
  char text[4096];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof(text), fmt, args);
  va_end(args);
  g_print("%s", text);
}

bool installed = false;

}  // namespace

void CountHostCalls()
{
  if(installed) return;
  installed = true;
  COUNT(TAP_GetTick);
  COUNT(TAP_GetTime);
  COUNT(TAP_ExtractMjd);
  COUNT(TAP_MakeMjd);
  COUNT(TAP_GetSystemVar);
  COUNT(TAP_SetSystemVar);
  COUNT(TAP_WriteSystemVar);
  COUNT(TAP_GetState);
  COUNT(TAP_GetSystemId);
  COUNT(TAP_Exit);
  COUNT(TAP_Sleep);
  COUNT(TAP_Timer_GetTotalNum);
  COUNT(TAP_MemAlloc);
  COUNT(TAP_MemFree);
  COUNT(TAP_MemSet);
  COUNT(TAP_MemCpy);
  COUNT(TAP_MemCmp);
  COUNT(TAP_Hdd_ChangeDir);
  COUNT(TAP_Hdd_Exist);
  COUNT(TAP_Hdd_Create);
  COUNT(TAP_Hdd_Delete);
  COUNT(TAP_Hdd_Fopen);
  COUNT(TAP_Hdd_Flen);
  COUNT(TAP_Hdd_Fseek);
  COUNT(TAP_Hdd_Fread);
  COUNT(TAP_Hdd_Fwrite);
  COUNT(TAP_Hdd_Fclose);
  COUNT(TAP_Osd_Create);
  COUNT(TAP_Osd_Delete);
  COUNT(TAP_Osd_Draw3dBoxFill);
  COUNT(TAP_Osd_PutS);
  COUNT(TAP_Osd_PutGd);
  COUNT(TAP_Osd_GetW);
  COUNT(TAP_Osd_Sync);
  COUNT(TAP_SysOsdControl);
  g_sprint = TAP_SPrint;
  TAP_SPrint = CountedSPrint;
  Counters().push_back(Counter{"TAP_SPrint", &g_sprint_calls, [] { TAP_SPrint = g_sprint; }});
  g_print = TAP_Print;
  TAP_Print = CountedPrint;
  Counters().push_back(Counter{"TAP_Print", &g_print_calls, [] { TAP_Print = g_print; }});
}

void StopCountingHostCalls()
{
  for(const Counter &c : Counters()) c.restore();
  Counters().clear();
  installed = false;
}

void ResetHostCalls()
{
  for(Counter &c : Counters()) *c.calls = 0;
}

std::vector<HostCallCount> HostCalls()
{
  std::vector<HostCallCount> out;
  for(const Counter &c : Counters())
    if(*c.calls != 0) out.push_back(HostCallCount{c.name, *c.calls});
  return out;
}

uint64_t TotalHostCalls()
{
  uint64_t total = 0;
  for(const Counter &c : Counters()) total += *c.calls;
  return total;
}

}  // namespace bench
