#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench) and runs them, then reports
# the size of the stripped mipsel Brimvale.tap:
#   - an idle event with nothing due: ns per event and the host calls, shell
#     commands, file opens and allocations it makes (counters per event);
#   - one virtual day of nine NAS servers with the shipped Brimvale.tap;
#   - bench/day9.toml (nine servers, eight outages each), a day and thirty
#     days, twice: through the harness, and as a user runs it, with
#     `brimvale-sim run -q` writing every output to a folder on the ordinary
#     disk (build-bench/cli-out; BENCH_CLI_OUT=<folder> chooses another);
#     printed side by side with the ratio;
#   - StrToUTF8 against iconv (ISO 8859-1 and ISO 8859-5);
#   - the .tap for the receiver: from build-mipsel if there is one, else
#     built alone (build-bench-mipsel, no emulator, no tests).
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=Idle).
# BENCH_SANDBOXES=<folder> puts the receivers' sandboxes there.
set -euo pipefail
cd "$(dirname "$0")/.."

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BENCH=ON "${launcher[@]}" >/dev/null
ninja -C build-bench brimvale_bench brimvale_tap brimvale-sim
# The receivers' sandboxes are scratch: on a memory file system when there is
# one, so that the figures are the emulator's and the plug-in's, not those of
# the disk's inode allocator (a day creates and deletes 12,000 ping reports).
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
sed 's/^duration = "1d"$/duration = "30d"/' bench/day9.toml >"$month"
grep -q '^duration = "30d"$' "$month"
echo
echo "=== brimvale-sim run -q on bench/day9.toml, output in $cli_out ($(stat -f -c %T "$cli_out"))"
cli_times=()
for run in day day day month; do
  scenario=bench/day9.toml
  [[ $run == month ]] && scenario=$month
  /usr/bin/time -f '%e %U %S' -o build-bench/cli-time.txt \
    build-bench/sim/brimvale-sim run -q build-bench/Brimvale.tap "$scenario" --out "$cli_out/$run" >/dev/null
  read -r wall user sys <build-bench/cli-time.txt
  echo "$run: $wall s wall ($user s user, $sys s system), $(du -sh "$cli_out/$run" | cut -f1) output," \
    "$(ls "$cli_out/$run/screenshots" | wc -l) screenshots"
  cli_times+=("$run:$wall")
done
python3 - "$results" "${cli_times[@]}" <<'PY'
import json, sys
seconds = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
# Names carry their settings ("BM_Day9OneDay/iterations:3").
harness = {b["name"].split("/")[0]: b["real_time"] * seconds[b["time_unit"]]
           for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type", "iteration") == "iteration"}
cli = {}
for item in sys.argv[2:]:
    run, wall = item.split(":")
    cli.setdefault(run, []).append(float(wall))
print()
print("%-28s %12s %12s %7s" % ("bench/day9.toml", "harness", "brimvale-sim", "ratio"))
for run, name in (("day", "BM_Day9OneDay"), ("month", "BM_Day9ThirtyDays")):
    if name not in harness or run not in cli:
        continue
    best = min(cli[run])
    print("%-28s %10.2f s %10.2f s %7.2f" % ("one day" if run == "day" else "thirty days", harness[name], best,
                                             best / harness[name]))
PY

echo
echo "=== Brimvale.tap for the receiver (mipsel, stripped)"
tap=build-mipsel/Brimvale.tap
if [[ ! -f $tap ]]; then
  cmake -S . -B build-bench-mipsel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake -DBRIMVALE_EMULATOR=OFF -DBRIMVALE_TESTS=OFF >/dev/null
  ninja -C build-bench-mipsel brimvale_tap
  tap=build-bench-mipsel/Brimvale.tap
fi
stripped=build-bench/Brimvale-mipsel-stripped.tap
mipsel-linux-gnu-strip --strip-unneeded -o "$stripped" "$tap"
echo "from $tap"
mipsel-linux-gnu-size "$stripped"
echo "file size: $(stat -c %s "$stripped") bytes"
