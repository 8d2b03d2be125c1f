#!/usr/bin/env bash
# Installs what building, running and testing Brimvale needs on Debian 12.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ git python3
  googletest                       # GoogleTest sources, built per target
  g++-mipsel-linux-gnu qemu-user   # the receiver's CPU: cross compiler and emulator
  libcli11-dev                     # the emulator's command line
  libtomlplusplus-dev              # the emulator's scenario files
  valgrind
  libfreetype-dev libpng-dev zlib1g-dev fonts-dejavu-core  # the emulator's screen
  clang libclang-rt-14-dev         # the fuzz drivers: libFuzzer and the sanitizers' runtime
  libbenchmark-dev                 # the benchmarks
  busybox etherwake iproute2 procps util-linux  # the real-tools test in namespaces
)
# The screen's libraries once more for the receiver's CPU: the cross build of
# the emulator and the tests links them and runs them under qemu.
mipsel_packages=(libfreetype-dev:mipsel libpng-dev:mipsel zlib1g-dev:mipsel)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

export DEBIAN_FRONTEND=noninteractive
updated=0
update_once() { ((updated)) || { apt-get update -qq; updated=1; }; }

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  update_once
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

missing=()
for p in "${mipsel_packages[@]}"; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]})); then
  if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    updated=0
  fi
  update_once
  # A library installed for two architectures must have the same version in
  # both. The mipsel archive can lag behind the native one (the security
  # archive carries no mipsel), so every native package that both
  # architectures share in the dependency closure is moved to the version the
  # mipsel archive has (for the kernel headers that can be a step back), and
  # so is any installed sibling from the same source that apt would otherwise
  # remove. apt's resolver does not find this on its own; it is given the
  # whole closure explicitly.
  arch=$(dpkg --print-architecture)
  wanted=("${missing[@]}")
  declare -A source_version=()
  closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
              --no-replaces --no-enhances "${missing[@]}" 2>/dev/null | grep -v '^ ' | grep ':mipsel$' | sort -u)
  for dep in $closure; do
    name=${dep%:mipsel}
    multiarch=$(apt-cache show "$dep" 2>/dev/null | awk '/^Multi-Arch:/ && !m {m = $2} END {print m}')
    [[ $multiarch == same ]] || continue
    foreign=$(apt-cache policy "$dep" | awk '/Candidate:/ {print $2}')
    [[ -n $foreign && $foreign != "(none)" ]] || continue
    native=$(dpkg-query -W -f='${Version}' "$name:$arch" 2>/dev/null || true)
    if [[ -z $native || $native == "$foreign" ]]; then
      installed "$dep" || wanted+=("$dep")
    else
      wanted+=("$dep=$foreign" "$name:$arch=$foreign")
      source_version[$(dpkg-query -W -f='${source:Package}' "$name:$arch")]=$foreign
    fi
  done
  # Never let the alignment remove anything that is installed.
  for _ in 1 2 3 4 5; do
    removals=$(apt-get install -s -y --no-install-recommends --allow-downgrades "${wanted[@]}" |
               awk '/^Remv/ {print $2}')
    [[ -n $removals ]] || break
    added=0
    for pkg in $removals; do
      source=$(dpkg-query -W -f='${source:Package}' "$pkg" 2>/dev/null || true)
      version=${source_version[$source]:-}
      if [[ -n $version ]] && apt-cache madison "$pkg" | awk -v v="$version" '$3 == v {f = 1} END {exit !f}'; then
        wanted+=("$pkg=$version")
        added=1
      fi
    done
    ((added)) || break
  done
  if [[ -n $removals ]]; then
    echo "install-deps: installing ${missing[*]} would remove:" $removals "- install them by hand" >&2
    exit 1
  fi
  echo "installing: ${wanted[*]}"
  apt-get install -y -qq --no-install-recommends --allow-downgrades "${wanted[@]}"
fi
