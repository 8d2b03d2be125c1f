#!/usr/bin/env bash
# Builds the plug-in and the receiver emulator, then runs Brimvale on an
# emulated receiver: start-up and a minute of idle events, printed as a timeline.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build brimvale-sim brimvale_tap
rm -rf out/demo
mkdir -p out/demo
build/sim/brimvale-sim run build/Brimvale.tap --root out/demo/root --seconds 60 "$@"
