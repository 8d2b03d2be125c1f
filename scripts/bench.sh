#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench) and runs them, then reports
# the size of the stripped mipsel Brimvale.tap:
#   - an idle event with nothing due: ns per event and the host calls, shell
#     commands, file opens and allocations it makes (counters per event);
#   - one virtual day of nine NAS servers with the shipped Brimvale.tap;
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
ninja -C build-bench brimvale_bench brimvale_tap
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
TMPDIR=$sandboxes build-bench/bench/brimvale_bench --benchmark_counters_tabular=true "$@"

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
