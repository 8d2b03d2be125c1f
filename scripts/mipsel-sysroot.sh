#!/usr/bin/env bash
# Makes the receiver CPU's libraries for the mipsel build of the emulator and
# the tests: Debian's mipsel FreeType, libpng and zlib with what they need,
# unpacked into a private folder (.deps/mipsel-sysroot, or the folder given as
# the argument). Nothing is installed on this machine and no package of it
# changes: the mipsel package lists live in a private apt state folder, the
# packages are fetched with 'apt-get download' and unpacked with 'dpkg -x'.
# The C library, libgcc and libstdc++ are the cross compiler's own
# (/usr/mipsel-linux-gnu); the toolchain file and qemu-user's library path
# use both folders.
#
# Made once and reused; made again when the package list or a version changes.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath -m "${1:-.deps/mipsel-sysroot}")
state=$(realpath -m "$root/../mipsel-apt")
wanted=(libfreetype-dev libpng-dev zlib1g-dev)
# Provided by the cross compiler's packages, in the build its loader expects:
# the walk through the dependencies stops at them.
toolchain_own='^(libc6|libc6-dev|libc-dev-bin|libgcc-s1|gcc-[0-9]+-base|libstdc\+\+6|libcrypt1|libcrypt-dev|linux-libc-dev|libnsl2|libnsl-dev|libtirpc.*|rpcsvc-proto)$'

. scripts/mipsel-apt.sh
mipsel_apt_init mipsel-sysroot "$state"

# The dependency closure of the wanted packages, without the toolchain's own,
# walked a level at a time (each apt-cache call reads the whole package cache).
declare -A seen=()
level=("${wanted[@]}")
while ((${#level[@]})); do
  next=()
  for pkg in "${level[@]}"; do
    [[ -n ${seen[$pkg]:-} || $pkg =~ $toolchain_own ]] && continue
    seen[$pkg]=1
    next+=("$pkg")
  done
  ((${#next[@]})) || break
  # First alternative of each dependency; a virtual name (<...>) is left to
  # the real package that provides it, which is named beside it.
  mapfile -t level < <(apt-cache "${apt_opts[@]}" depends --no-recommends --no-suggests --no-conflicts \
                         --no-breaks --no-replaces --no-enhances "${next[@]}" |
                       awk '/^  [|]?(Pre)?Depends:/ && !alt { n = $NF; if (n !~ /^</) print n }
                            /^  [|]/ { alt = 1; next } /^  / { alt = 0 }' | sort -u)
done

packages=($(printf '%s\n' "${!seen[@]}" | sort))
list=$(mipsel_apt_pin mipsel-sysroot "${packages[@]}")

# Absolute links (libz.so -> /lib/...) point into this folder, not the PC's.
relative_links() {
  local link target
  while IFS= read -r link; do
    target=$(readlink "$link")
    [[ $target == /* ]] || continue
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$1$target")" "$link"
  done < <(find "$1" -type l)
}
mipsel_apt_unpack mipsel-sysroot "$root" "$list" relative_links
