#!/usr/bin/env bash
# Builds Brimvale.tap for the receiver: mipsel (-march=mips32), optimised,
# stripped, without the emulator or the tests, into out/receiver/. Copy the
# file into /ProgramFiles on the receiver's disk.
#
# Its size is in docs/figures.md for the compiler that built it there: a run
# with the same compiler that makes another size says the figures are stale
# and ends with exit status 1 (the .tap is made all the same);
# `scripts/receiver-tap.sh --figures` (or scripts/figures.sh receiver-tap)
# writes them again.
set -euo pipefail
cd "$(dirname "$0")/.."
write=0
case ${1:-} in
  --figures) write=1 ;;
  '') ;;
  *) echo "usage: $0 [--figures]" >&2; exit 2 ;;
esac
scripts/install-deps.sh --receiver
cmake -S . -B build-receiver -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake -DBRIMVALE_EMULATOR=OFF -DBRIMVALE_TESTS=OFF >/dev/null
ninja -C build-receiver brimvale_tap
mkdir -p out/receiver
mipsel-linux-gnu-strip --strip-unneeded -o out/receiver/Brimvale.tap build-receiver/Brimvale.tap

# What the receiver's loader will see: MIPS32r1 code without an FPU
# instruction, importing only what every receiver's C library exports.
tap=out/receiver/Brimvale.tap
scripts/check-receiver-tap.sh "$tap"
exported=$(mipsel-linux-gnu-nm -D --defined-only "$tap" | awk '{print $3}' | sort | tr '\n' ' ')
imported=$(mipsel-linux-gnu-nm -D --undefined-only "$tap" | awk '{print $2}' | sort | tr '\n' ' ')
echo "exported: $exported"
bytes=$(stat -c %s "$tap")
echo "$tap: $bytes bytes"

# The figures: the same compiler and the same code make the same size.
. scripts/figures.sh
compiler=$(mipsel-linux-gnu-g++ --version | head -1)
binutils=$(mipsel-linux-gnu-strip --version | head -1)
read -r text data bss _ < <(mipsel-linux-gnu-size "$tap" | tail -1)
figures=build-receiver/figures.md
{
  echo "## Brimvale.tap for the receiver (scripts/receiver-tap.sh)"
  echo
  echo "Written by \`scripts/receiver-tap.sh --figures\` at commit $(figures_commit); $(figures_machine)."
  echo "\`out/receiver/Brimvale.tap\`: mipsel, \`-march=mips32\`, MinSizeRel, stripped (\`--strip-unneeded\`)."
  echo "The sizes follow from the code and the compiler: a run of \`scripts/receiver-tap.sh\` with this compiler"
  echo "and binutils that makes another size says the figures are stale."
  echo
  echo "| Figure | Value |"
  echo "|---|---|"
  echo "| \`compiler\` | $compiler |"
  echo "| \`binutils\` | $binutils |"
  echo "| \`file_bytes\` | $bytes |"
  echo "| \`text\` | $text |"
  echo "| \`data\` | $data |"
  echo "| \`bss\` | $bss |"
  echo "| \`imported\` | $(wc -w <<<"$imported") names: $imported|"
  echo "| \`exported\` | $exported|"
} >"$figures"
if [[ $write == 1 ]]; then
  figures_write receiver-tap "$figures"
  exit 0
fi
recorded() {
  sed -n '/^<!-- figures:receiver-tap -->$/,/^<!-- \/figures:receiver-tap -->$/p' "$figures_file" |
    sed -n "s/^| \`$1\` | \(.*\) |$/\1/p"
}
if [[ $(recorded compiler) == "$compiler" && $(recorded binutils) == "$binutils" ]]; then
  for figure in file_bytes text data bss; do
    now=$(sed -n "s/^| \`$figure\` | \(.*\) |$/\1/p" "$figures")
    if [[ $(recorded $figure) != "$now" ]]; then
      echo "figures are stale: $figure is $now, docs/figures.md says $(recorded $figure) for this compiler;" \
        "run scripts/receiver-tap.sh --figures to refresh" >&2
      exit 1
    fi
  done
fi
