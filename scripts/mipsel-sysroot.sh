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

mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/etc"
[[ -f $state/status ]] || : >"$state/status"   # nothing is installed in that world
apt_opts=(-o APT::Architecture=mipsel -o APT::Architectures::=mipsel
          -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
          -o Dir::Cache="$state/cache" -o Dir::Etc::preferencesparts="$state/etc"
          -o Debug::NoLocking=1 -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)

# The lists are fetched once a day at most (the stamp is the age of the folder).
if [[ -z $(find "$state/lists" -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit) ]]; then
  echo "mipsel-sysroot: fetching the mipsel package lists"
  apt-get "${apt_opts[@]}" update -qq 2>&1 | grep -v '^N: ' || true
  touch "$state/lists"
fi

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
list=""
while read -r pkg version; do
  if [[ -z $version || $version == "(none)" ]]; then
    echo "mipsel-sysroot: no mipsel package '$pkg' in this machine's Debian archives" >&2
    exit 1
  fi
  list+="$pkg=$version"$'\n'
done < <(apt-cache "${apt_opts[@]}" policy "${packages[@]}" |
         awk '/^[^ ].*:$/ {sub(/:.*/, ""); p = $0} /Candidate:/ {print p, $2}')

if [[ -f $root/.packages && $(cat "$root/.packages") == "${list%$'\n'}" ]]; then
  echo "mipsel-sysroot: $root is up to date"
  exit 0
fi

echo "mipsel-sysroot: unpacking into $root:" $list
rm -rf "$root.new"
mkdir -p "$root.new" "$state/debs"
(cd "$state/debs" && rm -f ./*.deb && apt-get "${apt_opts[@]}" download -qq $list)
for deb in "$state/debs"/*.deb; do dpkg -x "$deb" "$root.new"; done
# Absolute links (libz.so -> /lib/...) point into this folder, not the PC's.
while IFS= read -r link; do
  target=$(readlink "$link")
  [[ $target == /* ]] || continue
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root.new$target")" "$link"
done < <(find "$root.new" -type l)
printf '%s' "${list%$'\n'}" >"$root.new/.packages"
rm -rf "$root"
mv "$root.new" "$root"
