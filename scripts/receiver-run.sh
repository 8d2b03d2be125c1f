#!/usr/bin/env bash
# Runs a scenario with the receiver's own code: the mipsel build of the
# emulator (build-mipsel) loads the mipsel Brimvale.tap under qemu-user, as
# the mipsel build's tests do. The output goes to out/<scenario name>-mipsel.
#
#   scripts/receiver-run.sh [SCENARIO.toml] [brimvale-sim run options]
#
# TAP=out/receiver/Brimvale.tap runs the stripped file that scripts/receiver-tap.sh
# makes for the receiver instead of build-mipsel's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
scripts/mipsel-sysroot.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-mipsel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake --no-warn-unused-cli "${launcher[@]}" >/dev/null
ninja -C build-mipsel brimvale-sim brimvale_tap
scenario=examples/default.toml
if [[ $# -gt 0 && $1 != -* ]]; then scenario=$1; shift; fi
out=(--out "out/$(basename "$scenario" .toml)-mipsel")
for arg in "$@"; do [[ $arg == --out* ]] && out=(); done
libs=$PWD/.deps/mipsel-sysroot
# The loader and C library of the cross compiler (-L), the screen's libraries
# from the private folder: the toolchain file's emulator line.
exec qemu-mipsel -L /usr/mipsel-linux-gnu \
  -E LD_LIBRARY_PATH=/lib:$libs/usr/lib/mipsel-linux-gnu:$libs/lib/mipsel-linux-gnu \
  build-mipsel/sim/brimvale-sim run "${TAP:-build-mipsel/Brimvale.tap}" "$scenario" "${out[@]}" "$@"
