#!/usr/bin/env bash
# Builds the plug-in and the receiver emulator, then runs Brimvale on an
# emulated receiver with two NAS servers at home (examples/default.toml): one
# asleep until the wake-up packet, holding the recording folder; one that
# drops out and comes back. The timeline is printed as it goes; the run log,
# the final mount table, the screenshots and a summary per server end up in
# out/default (or out/<name> for another scenario given as the argument).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The emulator target brings the plug-in and the firmware objects it loads.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMVALE_TESTS=OFF >/dev/null
ninja -C build brimvale-sim
scenario="${1:-examples/default.toml}"
out="out/$(basename "$scenario" .toml)"
build/sim/brimvale-sim run build/Brimvale.tap "$scenario" --out "$out"
echo
echo "The message bar and the status icons, one picture per change: $out/screenshots/"
echo "What happened to each server (woken, answered, mounted, tries, unmounted): $out/summary.txt"
echo
echo "The whole run at a glance (open it in a browser): $out/report.html"
