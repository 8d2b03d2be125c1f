// One virtual day of nine NAS servers (bench/nine_servers.toml) played on
// the emulator with the shipped Brimvale.tap: wall time per day, and what
// the day held (events, pings, mounts, shell commands).
#include <benchmark/benchmark.h>

#include "bench_scenario.h"

namespace {

void BM_VirtualDayNineServers(benchmark::State &state)
{
  double events = 0, shell = 0, mounts = 0, pings = 0;
  for(auto _ : state)
  {
    state.PauseTiming();
    auto run = std::make_unique<bench::ScenarioRun>(BENCH_DIR "/nine_servers.toml");
    state.ResumeTiming();
    run->Play();
    state.PauseTiming();
    sim::Receiver &r = *run->receiver;
    events = static_cast<double>(run->scenario.duration_seconds * 100 / static_cast<double>(run->scenario.step_ticks));
    shell = static_cast<double>(r.trace().Count(sim::TraceKind::kShell));
    mounts = 0;
    for(const std::string &t : r.trace().Texts(sim::TraceKind::kNetwork)) mounts += t.rfind("mounted ", 0) == 0;
    pings = 0;
    for(const sim::NasConfig &s : r.network().servers()) pings += r.network().State(s.name)->pings;
    if(r.ended() == false) state.SkipWithError("the plug-in did not end after the stop request");
    run.reset();
    state.ResumeTiming();
  }
  state.counters["idle_events"] = events;
  state.counters["shell_commands"] = shell;
  state.counters["nfs_and_bind_mounts"] = mounts;
  state.counters["pings_to_servers"] = pings;
}
BENCHMARK(BM_VirtualDayNineServers)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
