#!/usr/bin/env bash
# Builds Brimvale.tap for the receiver: mipsel (-march=mips32), optimised,
# stripped, without the emulator or the tests, into out/receiver/. Copy the
# file into /ProgramFiles on the receiver's disk.
set -euo pipefail
cd "$(dirname "$0")/.."
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
echo "exported:" $(mipsel-linux-gnu-nm -D --defined-only "$tap" | awk '{print $3}' | sort)
echo "$tap: $(stat -c %s "$tap") bytes"
