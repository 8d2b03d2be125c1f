#!/usr/bin/env bash
# Builds the fuzz drivers of every parser of outside input with clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (build folder
# build-fuzz) and runs each for a bounded time; fails when one finds a crash
# or a broken property.
#
#   scripts/fuzz.sh                         # every driver, FUZZ_SECONDS (10) each
#   FUZZ_SECONDS=600 scripts/fuzz.sh ini    # one driver, ten minutes
#
# Library drivers (lib/*/fuzz/): text, paths, firmware, timers, ini.
# Application drivers (tests/fuzz/, on the emulator): settings, process, probe.
# Corpora live in tests/fuzz-corpus/<driver>/; new inputs the fuzzer finds go
# to out/fuzz/corpus/<driver>/ (merge good ones by hand with -merge=1), a
# crash leaves its input in out/fuzz/. A crash input belongs in the driver's
# corpus once fixed: every build's tests replay the corpora (FuzzReplay.*).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (scripts/install-deps.sh)"; exit 1; }

seconds=${FUZZ_SECONDS:-10}
build=${FUZZ_BUILD:-build-fuzz}
out=out/fuzz
all=(text paths firmware timers ini settings process probe)
selected=("$@")
((${#selected[@]})) || selected=("${all[@]}")
for name in "${selected[@]}"; do
  [[ " ${all[*]} " == *" $name "* ]] || { echo "fuzz.sh: no driver '$name' (have: ${all[*]})"; exit 2; }
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DBRIMVALE_SANITIZE=ON -DBRIMVALE_FUZZ=ON -DBRIMVALE_TESTS=OFF >/dev/null
ninja -C "$build" "${selected[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$out"
status=0
for name in "${selected[@]}"; do
  echo "=== fuzz $name for ${seconds}s"
  mkdir -p "$out/corpus/$name"
  log=$out/$name.log
  # The new corpus comes first: libFuzzer writes what it finds there, and the
  # checked-in one stays as it is.
  if "$build/tests/fuzz/fuzz_$name" "$out/corpus/$name" "tests/fuzz-corpus/$name" \
       -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 \
       -artifact_prefix="$out/$name-" -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$log" | tail -n 2
  else
    status=1
    grep -vE '^#[0-9]+ +(NEW|REDUCE|pulse)' "$log" | tail -n 40
    echo "fuzz.sh: $name FAILED; input in $out/$name-*, log in $log"
  fi
done
((status == 0)) || exit 1
echo "fuzzing passed"
