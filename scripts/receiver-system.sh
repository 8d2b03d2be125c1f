#!/usr/bin/env bash
# A night of Brimvale on the receiver as a MIPS machine: Debian 12's mipsel
# Malta kernel under qemu-system-mipsel, its static busybox as the shell and
# tools, the mipsel Brimvale.tap in the emulator's receiver (real-shell mode),
# two real NFS servers (nfs-ganesha), a real wake-on-LAN frame, one server
# vanishing and coming back, and the stop request. Prints the timeline, the
# checks and the table of how long each command held up the plug-in.
#
#   sudo scripts/receiver-system.sh              make the guest if needed, run the night
#   scripts/receiver-system.sh --prepare-only    only make the guest and the mipsel programs
#   sudo scripts/receiver-system.sh --run-only   only run the night (ctest ReceiverSystem)
#   ... --write-doc   also put the measured waits into docs/receiver-system.md
#   ... --keep        keep the run's files (servers' exports and logs, the initramfs)
#
# Everything runs in network namespaces made for the night and deleted after
# it: nothing reaches any other network, nothing is mounted on the PC. Needs
# root, network namespaces and /dev/net/tun; without them it says why and
# exits 77 (a skip), which counts as a failure when CI=true.
set -euo pipefail
cd "$(dirname "$0")/.."

prepare=1 night=1 extra=()
mipsel_build=${BRIMVALE_MIPSEL_BUILD:-build-mipsel}
while (($#)); do
  case "$1" in
    --prepare-only) night=0 ;;
    --run-only) prepare=0 ;;
    --write-doc) extra+=(--write-doc docs/receiver-system.md) ;;
    --keep) extra+=(--keep) ;;
    --mipsel-build) mipsel_build=$2; shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed 's/^# \{0,1\}//; /^set -e/d' >&2; exit 2 ;;
  esac
  shift
done

skip() {
  echo "ReceiverSystem skipped: $*"
  if [[ ${CI:-} == true ]]; then
    echo "ReceiverSystem: a skip is a failure in CI" >&2
    exit 1
  fi
  exit 77
}

if ((prepare)); then
  for tool in mipsel-linux-gnu-g++ apt-get dpkg; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh --test installs it)"
  done
  scripts/mipsel-sysroot.sh
  scripts/receiver-guest.sh
  if [[ ! -f $mipsel_build/CMakeCache.txt ]]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$mipsel_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake "${launcher[@]}" >/dev/null
  fi
  # The runner brings the plug-in and the firmware objects it loads.
  ninja -C "$mipsel_build" brimvale-receiver-night
fi
((night)) || exit 0

[[ $(id -u) == 0 ]] || skip "needs root for network namespaces, the tap device and the servers"
[[ -c /dev/net/tun ]] || skip "no /dev/net/tun for the guest's network card"
for tool in qemu-system-mipsel ganesha.nfsd rpcbind ip readelf python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh --test installs it)"
done
probe=bv$$-probe
ip netns add "$probe" 2>/dev/null || skip "network namespaces cannot be made here"
ip netns del "$probe"
[[ -f .deps/receiver-guest/.packages && -x $mipsel_build/tests/system/brimvale-receiver-night ]] ||
  skip "the guest is not made: scripts/receiver-system.sh --prepare-only (ctest ReceiverSystemGuest)"

exec python3 tests/system/night.py night --guest .deps/receiver-guest --mipsel-build "$mipsel_build" \
  --work "${TMPDIR:-/tmp}" "${extra[@]}"
