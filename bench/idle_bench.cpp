// One idle event with nothing due: the plug-in has mounted its server, the
// message bar and the icons are gone, the next probe lies in the future, and
// the clock stands still. Reports ns per event and, per event, the calls the
// plug-in made through the host interface, the shell, the C library's files
// and the host's allocator.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_scenario.h"
#include "host_counters.h"

namespace {

const std::initializer_list<sim::TraceKind> kEveryKindOfWork = {
  sim::TraceKind::kDisk, sim::TraceKind::kShell, sim::TraceKind::kTool, sim::TraceKind::kOsd,
  sim::TraceKind::kSystem, sim::TraceKind::kMemory, sim::TraceKind::kPrint, sim::TraceKind::kTerminal,
  sim::TraceKind::kLoader, sim::TraceKind::kFile, sim::TraceKind::kNetwork};

void BM_IdleEventNothingDue(benchmark::State &state)
{
  bench::ScenarioRun run(BENCH_DIR "/idle.toml");
  run.Play();
  sim::Receiver &r = *run.receiver;
  if(r.ended())
  {
    state.SkipWithError("the plug-in ended during the scenario");
    return;
  }
  bench::CountHostCalls();
  bench::ResetHostCalls();
  // A run keeps no trace; these counts need every kind that would show work.
  r.trace().KeepOnly(kEveryKindOfWork);
  r.trace().Clear();
  size_t allocations = r.live_allocations();

  for(auto _ : state) benchmark::DoNotOptimize(r.Idle());

  double events = static_cast<double>(state.iterations());
  state.counters["host_calls/event"] = static_cast<double>(bench::TotalHostCalls()) / events;
  state.counters["shell/event"] = static_cast<double>(r.trace().Count(sim::TraceKind::kShell)) / events;
  state.counters["disk/event"] = static_cast<double>(r.trace().Count(sim::TraceKind::kDisk)) / events;
  state.counters["fopen/event"] = static_cast<double>(r.trace().Count(sim::TraceKind::kFile) +
                                                      r.trace().Count(sim::TraceKind::kTerminal)) / events;
  state.counters["alloc/event"] = static_cast<double>(r.trace().Count(sim::TraceKind::kMemory)) / events;
  state.counters["osd/event"] = static_cast<double>(r.trace().Count(sim::TraceKind::kOsd)) / events;
  state.counters["live_blocks_delta"] = static_cast<double>(r.live_allocations()) - static_cast<double>(allocations);
  // Which host functions an idle event calls, if any.
  for(const bench::HostCallCount &c : bench::HostCalls())
    state.counters[c.name + "/event"] = static_cast<double>(c.calls) / events;
  bench::StopCountingHostCalls();
}
BENCHMARK(BM_IdleEventNothingDue);

// The plug-in's handler alone, called as the firmware calls it, without the
// emulator's event delivery (which looks the task row up each time) and
// without the counting stand-ins.
void BM_IdleHandlerOnly(benchmark::State &state)
{
  bench::ScenarioRun run(BENCH_DIR "/idle.toml");
  run.Play();
  sim::Receiver &r = *run.receiver;
  FirmwareWord *row = r.task_row();
  if(r.ended() || row == nullptr)
  {
    state.SkipWithError("the plug-in ended during the scenario, or has no task row");
    return;
  }
  auto handler = reinterpret_cast<TAP_EventHandlerFn>(row[TAP_TASK_HANDLER_WORD]);
  r.trace().KeepOnly(kEveryKindOfWork);
  r.trace().Clear();
  for(auto _ : state) benchmark::DoNotOptimize(handler(EVT_IDLE, 0, 0));
  state.counters["trace_entries"] = static_cast<double>(r.trace().entries().size());
}
BENCHMARK(BM_IdleHandlerOnly);

}  // namespace
