// Virtual days of nine NAS servers played on the emulator with the shipped
// Brimvale.tap, through the harness (sandboxes in $TMPDIR, no output folder):
// bench/nine_servers.toml for a day, and bench/day9.toml (every server with
// a wake-up MAC, two shares and eight outages) for a day and for thirty.
// scripts/bench.sh times `brimvale-sim run` on bench/day9.toml beside them.
#include <benchmark/benchmark.h>

#include "bench_scenario.h"

namespace {

void PlayDays(benchmark::State &state, const char *file, double days)
{
  double events = 0, shell = 0, mounts = 0, pings = 0;
  for(auto _ : state)
  {
    state.PauseTiming();
    auto run = std::make_unique<bench::ScenarioRun>(file);
    run->scenario.duration_seconds = days * 86400;
    sim::Receiver &r = *run->receiver;
    // Counted as they come, as `brimvale-sim run` takes its trace: the run
    // keeps none.
    shell = mounts = 0;
    r.trace().AddListener({sim::TraceKind::kShell, sim::TraceKind::kNetwork}, [&](const sim::TraceEntry &e) {
      if(e.kind == sim::TraceKind::kShell) ++shell;
      else if(e.text.rfind("mounted ", 0) == 0) ++mounts;
    });
    state.ResumeTiming();
    run->Play();
    state.PauseTiming();
    events = static_cast<double>(run->scenario.duration_seconds * 100 / static_cast<double>(run->scenario.step_ticks));
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

void BM_VirtualDayNineServers(benchmark::State &state) { PlayDays(state, BENCH_DIR "/nine_servers.toml", 1); }
BENCHMARK(BM_VirtualDayNineServers)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Day9OneDay(benchmark::State &state) { PlayDays(state, BENCH_DIR "/day9.toml", 1); }
BENCHMARK(BM_Day9OneDay)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Day9ThirtyDays(benchmark::State &state) { PlayDays(state, BENCH_DIR "/day9.toml", 30); }
BENCHMARK(BM_Day9ThirtyDays)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
