#!/usr/bin/env bash
# Builds the plug-in and the receiver emulator, then runs Brimvale on an
# emulated receiver with two NAS servers at home (examples/default.toml): one
# asleep until the wake-up packet, holding the recording folder; one that
# drops out and comes back. The timeline is printed as it goes; the run log,
# the final mount table and the screenshots end up in out/default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build brimvale-sim brimvale_tap
build/sim/brimvale-sim scenario build/Brimvale.tap "${1:-examples/default.toml}" --out out/default
