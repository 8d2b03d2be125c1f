#!/usr/bin/env bash
# Installs what building, running and testing Brimvale needs on Debian 12.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ git python3
  googletest                       # GoogleTest sources, built per target
  g++-mipsel-linux-gnu qemu-user   # the receiver's CPU: cross compiler and emulator
  libcli11-dev                     # the emulator's command line
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
