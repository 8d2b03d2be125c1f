#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench) and runs them:
#   - an idle event with nothing due: ns per event and the host calls, shell
#     commands, file opens and allocations it makes (counters per event);
#   - one virtual day of nine NAS servers with the shipped Brimvale.tap;
#   - bench/day9.toml (nine servers, eight outages each), a day and thirty
#     days, twice: through the harness, and as a user runs it, with
#     `brimvale-sim run -q` writing every output to a folder on the ordinary
#     disk (build-bench/cli-out; BENCH_CLI_OUT=<folder> chooses another);
#     printed side by side with the ratio; then a year of it through the
#     command alone, for its peak memory;
#   - StrToUTF8 against iconv, on every character table it knows.
# The figures, with the machine, its load and the commit, are written into
# the "bench" section of docs/figures.md (timings: nothing checks them).
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=Idle);
# then nothing is written. BENCH_SANDBOXES=<folder> puts the receivers'
# sandboxes there. BENCH_YEAR=0 leaves the year out.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/figures.sh
started=$(figures_machine)
commit=$(figures_commit)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BENCH=ON "${launcher[@]}" >/dev/null
ninja -C build-bench brimvale_bench brimvale_tap brimvale-sim
# The receivers' sandboxes are scratch: on a memory file system when there is
# one, so that the figures are the emulator's and the plug-in's, not those of
# the disk's inode allocator (a day creates and deletes some 13,000 ping reports).
# BENCH_SANDBOXES chooses another place.
sandboxes=${BENCH_SANDBOXES:-}
if [[ -z $sandboxes && -d /dev/shm && -w /dev/shm ]]; then
  sandboxes=$(mktemp -d /dev/shm/brimvale-bench.XXXXXX)
  trap 'rm -rf "$sandboxes"' EXIT
fi
sandboxes=${sandboxes:-$PWD/build-bench/sandboxes}
mkdir -p "$sandboxes"
echo "sandboxes in $sandboxes ($(stat -f -c %T "$sandboxes"))"
results=build-bench/bench-results.json
TMPDIR=$sandboxes build-bench/bench/brimvale_bench --benchmark_counters_tabular=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"

# The same scenario as a user runs it: the real command, its output folder
# (screenshots, logs, summary, tree, the disks) on the ordinary disk. Wall
# time is what the user waits; user and system time show the machine's share.
cli_out=${BENCH_CLI_OUT:-$PWD/build-bench/cli-out}
mkdir -p "$cli_out"
month=build-bench/day9-30d.toml
year=build-bench/day9-366d.toml
sed 's/^duration = "1d"$/duration = "30d"/' bench/day9.toml >"$month"
sed 's/^duration = "1d"$/duration = "366d"/' bench/day9.toml >"$year"
grep -q '^duration = "30d"$' "$month"
grep -q '^duration = "366d"$' "$year"
runs=(day day day month)
[[ ${BENCH_YEAR:-1} == 0 ]] || runs+=(year)
echo
echo "=== brimvale-sim run -q on bench/day9.toml, output in $cli_out ($(stat -f -c %T "$cli_out"))"
cli_times=()
for run in "${runs[@]}"; do
  scenario=bench/day9.toml
  [[ $run == month ]] && scenario=$month
  [[ $run == year ]] && scenario=$year
  rm -rf "${cli_out:?}/$run"
  /usr/bin/time -f '%e %U %S %M' -o build-bench/cli-time.txt \
    build-bench/sim/brimvale-sim run -q build-bench/Brimvale.tap "$scenario" --out "$cli_out/$run" >/dev/null
  read -r wall user sys peak <build-bench/cli-time.txt
  size=$(du -sh "$cli_out/$run" | cut -f1)
  shots=$(ls "$cli_out/$run/screenshots" | wc -l)
  echo "$run: $wall s wall ($user s user, $sys s system), peak $((peak / 1024)) MB, $size output, $shots screenshots"
  cli_times+=("$run:$wall:$user:$sys:$peak:$size:$shots")
  # A year's output is large; its size is what counts.
  [[ $run == year ]] && rm -rf "${cli_out:?}/$run"
done
figures=build-bench/figures.md
python3 - "$results" "$started" "$(figures_machine)" "$commit" "$sandboxes ($(stat -f -c %T "$sandboxes"))" \
  "$cli_out ($(stat -f -c %T "$cli_out"))" "${cli_times[@]}" >"$figures" <<'PY'
import json, sys
results, started, ended, commit, sandboxes, cli_out = sys.argv[1:7]
seconds = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
data = json.load(open(results))
runs = [b for b in data["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
# Names carry their settings ("BM_Day9OneDay/iterations:3").
harness = {b["name"].split("/")[0]: b["real_time"] * seconds[b["time_unit"]] for b in runs}
cli = {}
for item in sys.argv[7:]:
    run, wall, user, system, peak, size, shots = item.split(":")
    cli.setdefault(run, []).append((float(wall), float(user), float(system), int(peak), size, shots))

def number(v):
    if float(v).is_integer() and abs(v) >= 1000:
        return "{:,}".format(int(v))
    return "%.4g" % v

def duration(value, unit):
    s = value * seconds[unit]
    for name, size in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if s >= size:
            return "%.4g %s" % (s / size, name)
    return "%.4g ns" % (s / 1e-9)

def span(values, form):
    low, high = min(values), max(values)
    return form % low if form % low == form % high else (form + "-" + form) % (low, high)

print("## Benchmarks (scripts/bench.sh)")
print()
print("Written by `scripts/bench.sh` (Google Benchmark and `/usr/bin/time`, Release build) at commit %s." % commit)
print("Started %s; ended with load average %s. Timings only: nothing checks them, and on a shared" % (
    started, ended.rsplit("load average ", 1)[-1]))
print("machine they vary with the other tenants' load (the load averages above say how busy it was).")
print("The receivers' sandboxes of the harness: %s; the command's output: %s." % (sandboxes, cli_out))
print()
print("| Benchmark | Real time | CPU time | Iterations | Counters |")
print("|---|---|---|---|---|")
skip = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
        "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit"}
for b in runs:
    counters = ", ".join("%s %s" % (k, number(v)) for k, v in b.items()
                         if k not in skip and isinstance(v, (int, float)) and not isinstance(v, bool))
    print("| `%s` | %s | %s | %s | %s |" % (b["name"], duration(b["real_time"], b["time_unit"]),
                                          duration(b["cpu_time"], b["time_unit"]), number(b["iterations"]),
                                          counters or "-"))
print()
print("`brimvale-sim run -q` on `bench/day9.toml` (nine servers, each with a wake-up MAC, two shares and eight")
print("outages a day), every output written to the folder above; the harness's time for the same scenario beside it:")
print()
print("| Run | Runs | Wall | User | System | Peak memory | Output | Screenshots | Harness | Ratio |")
print("|---|---|---|---|---|---|---|---|---|---|")
names = {"day": ("one day", "BM_Day9OneDay"), "month": ("thirty days", "BM_Day9ThirtyDays"),
         "year": ("366 days", None)}
for run in ("day", "month", "year"):
    if run not in cli:
        continue
    label, bench = names[run]
    r = cli[run]
    walls = [x[0] for x in r]
    h = harness.get(bench) if bench else None
    print("| %s | %d | %s s | %s s | %s s | %s MB | %s | %s | %s | %s |" % (
        label, len(r), span(walls, "%.2f"), span([x[1] for x in r], "%.2f"), span([x[2] for x in r], "%.2f"),
        span([x[3] / 1024 for x in r], "%.0f"), r[-1][4], r[-1][5],
        "%.2f s" % h if h else "-", "%.2f" % (min(walls) / h) if h else "-"))
PY
cat "$figures"
# A run of some of the benchmarks is not the whole set of figures.
if [[ $# -eq 0 ]]; then
  figures_write bench "$figures"
else
  echo "(not written into docs/figures.md: benchmark arguments given)"
fi
