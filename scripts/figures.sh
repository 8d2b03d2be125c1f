#!/usr/bin/env bash
# The measured figures in docs/figures.md, each section written by what
# measures it:
#   scripts/figures.sh soak          the 30-day soak (native build)
#   scripts/figures.sh faults        the fault-injection sweep (native build)
#   scripts/figures.sh receiver-tap  the .tap's size (scripts/receiver-tap.sh)
#   scripts/figures.sh bench         the benchmarks (scripts/bench.sh, minutes)
#   scripts/figures.sh counts        soak, faults and receiver-tap: every
#                                    figure that a test or script checks
# Sourced by the producers (bench.sh, receiver-tap.sh) for figures_write.
#
# A section lies between "<!-- figures:NAME -->" and "<!-- /figures:NAME -->"
# and is replaced as a whole; a missing one is added at the end.
figures_file=${FIGURES_FILE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/docs/figures.md}

# What the figures were measured on and when: for the line under a heading.
figures_machine() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
  printf '%s, %s cores (%s), %s GB memory, Linux %s; load average %s' \
    "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(nproc)" "${cpu:-unknown CPU}" \
    "$(awk '/^MemTotal:/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)" "$(uname -r)" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
}

# The commit the figures belong to, marked when the tree had changes.
figures_commit() {
  local top
  top=$(dirname "$figures_file")/..
  git -C "$top" rev-parse --short HEAD 2>/dev/null | tr -d '\n' || echo -n unknown
  git -C "$top" diff --quiet HEAD -- . ':!docs/figures.md' 2>/dev/null || echo -n " with uncommitted changes"
}

# figures_write NAME FILE: section NAME of docs/figures.md becomes FILE's text.
figures_write() {
  local name=$1 body=$2 tmp
  tmp=$(mktemp "$figures_file.XXXXXX")
  python3 - "$figures_file" "$name" "$body" >"$tmp" <<'PY'
import sys
path, name, body = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
begin, end = "<!-- figures:%s -->" % name, "<!-- /figures:%s -->" % name
section = "%s\n%s\n%s" % (begin, open(body, encoding="utf-8").read().rstrip("\n"), end)
if begin in text and end in text:
    head, rest = text.split(begin, 1)
    text = head + section + rest.split(end, 1)[1]
else:
    text = text.rstrip("\n") + "\n\n" + section + "\n"
sys.stdout.write(text)
PY
  chmod 644 "$tmp"
  mv "$tmp" "$figures_file"
  echo "figures: $name written into $figures_file"
}

# The native build with the tests, as scripts/test-all.sh makes it.
figures_native_build() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMVALE_TESTS=ON "${launcher[@]}" >/dev/null
  ninja -C build brimvale_tests
}

# figures_test NAME HEADING TABLE TEST...: runs each test in a process of its
# own (as ctest does) with its figures going to build/figures/NAME, then
# writes the section: the heading, how and on what, the TABLE's head and the
# rows the tests wrote.
figures_test() {
  local name=$1 heading=$2 table=$3 dir=build/figures body machine test
  shift 3
  rm -rf "${dir:?}/$name" && mkdir -p "$dir/$name" build/sandboxes
  machine=$(figures_machine)
  for test in "$@"; do
    BRIMVALE_FIGURES_DIR=$PWD/$dir/$name TMPDIR=$PWD/build/sandboxes \
      "${FIGURES_TESTS:-build/tests/brimvale_tests}" --gtest_filter="$test"
  done
  body=$dir/$name.md
  {
    echo "## $heading"
    echo
    echo "Written by \`scripts/figures.sh $name\` (native build, RelWithDebInfo) at commit" \
      "$(figures_commit); started $machine."
    echo
    echo "$table"
    cat "$dir/$name"/*.md
  } >"$body"
  figures_write "$name" "$body"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -euo pipefail
  cd "$(dirname "$0")/.."
  [[ $# -gt 0 ]] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
  for what in "$@"; do
    case $what in
      soak)
        figures_native_build
        figures_test soak 'Soak: 30 virtual days of nine servers (tests/soak_test.cpp)' \
          $'| Figure | Value |\n|---|---|' Soak.ThirtyDaysOfNineServersComingAndGoing ;;
      faults)
        figures_native_build
        figures_test faults 'Fault injection: each call fails in turn (tests/fault_test.cpp)' \
          $'| Calls failed in turn | Failure points (runs) | Runs with a fault | Runs with a promise of their own checked | Wall |\n|---|---|---|---|---|' \
          Faults.EachAllocationFailsInTurn Faults.EachFileOpenFailsInTurn Faults.EachShellCommandFailsInTurn ;;
      receiver-tap) scripts/receiver-tap.sh --figures ;;
      bench) scripts/bench.sh ;;
      counts) "$0" soak faults receiver-tap ;;
      *) echo "figures: unknown: $what (soak, faults, receiver-tap, bench, counts)" >&2; exit 2 ;;
    esac
  done
fi
