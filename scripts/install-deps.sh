#!/usr/bin/env bash
# Installs what Brimvale needs on Debian 12, and nothing the machine has already:
#
#   scripts/install-deps.sh          building and running the emulator (the main job)
#   scripts/install-deps.sh --test   that, and what the tests need (test-all.sh)
#   scripts/install-deps.sh --receiver   the cross compiler alone (receiver-tap.sh)
#
# A package that is installed is never named to apt, so apt never moves it to
# another version; and before anything is installed, apt's plan is checked: a
# plan that would upgrade, downgrade or remove an installed package is refused
# with the list, and the machine stays as it was. The receiver CPU's libraries
# are not installed at all (scripts/mipsel-sysroot.sh unpacks them privately),
# so no foreign architecture is added.
set -euo pipefail

main_packages=(
  cmake ninja-build g++ git python3
  libcli11-dev                     # the emulator's command line
  libtomlplusplus-dev              # the emulator's scenario files
  libfreetype-dev libpng-dev zlib1g-dev fonts-dejavu-core  # the emulator's screen
)
test_packages=(
  googletest                       # GoogleTest sources, built per target
  valgrind
  g++-mipsel-linux-gnu qemu-user   # the receiver's CPU: cross compiler and emulator
  clang libclang-rt-14-dev         # the fuzz drivers: libFuzzer and the sanitizers' runtime
  libbenchmark-dev                 # the benchmarks
  busybox etherwake iproute2 procps util-linux  # the real-tools test in namespaces
  chromium                         # the run report, opened in a real browser
  emscripten                       # the settings check as one offline web page
  qemu-system-mips                 # the receiver as a MIPS machine (tests/system)
  nfs-ganesha nfs-ganesha-vfs rpcbind  # its NAS servers: NFS in user space, in namespaces
)

case "${1:-}" in
  "") packages=("${main_packages[@]}") ;;
  --test) packages=("${main_packages[@]}" "${test_packages[@]}") ;;
  --receiver) packages=(cmake ninja-build python3 g++-mipsel-linux-gnu) ;;
  *) echo "usage: scripts/install-deps.sh [--test | --receiver]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
((${#missing[@]})) || exit 0

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# 'Inst name [old version] (...)' is a change of an installed package.
plan=$(apt-get install -s -y --no-install-recommends "${missing[@]}")
changes=$(awk '/^Inst [^ ]+ \[/ {print "  change " $2 " " $3} /^Remv / {print "  remove " $2 " " $3}' <<<"$plan")
if [[ -n $changes ]]; then
  echo "install-deps: installing ${missing[*]} would change packages this machine has:" >&2
  echo "$changes" >&2
  echo "install-deps: nothing was installed; install them by hand if you accept that" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
apt-get install -y -qq --no-install-recommends "${missing[@]}"
