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

# What the receiver's loader will see: MIPS32 code, no C++ runtime, only the
# entry points and identity data exported.
tap=out/receiver/Brimvale.tap
mipsel-linux-gnu-readelf -h "$tap" | grep -q "MIPS R3000" || { echo "receiver-tap: $tap is not MIPS code" >&2; exit 1; }
if mipsel-linux-gnu-readelf -dW "$tap" | grep -q "NEEDED.*libstdc++"; then
  echo "receiver-tap: $tap needs libstdc++" >&2
  exit 1
fi
echo "exported:" $(mipsel-linux-gnu-nm -D --defined-only "$tap" | awk '{print $3}' | sort)
echo "$tap: $(stat -c %s "$tap") bytes"
