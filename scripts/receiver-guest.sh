#!/usr/bin/env bash
# Fetches the receiver as a MIPS machine for tests/system: Debian 12's mipsel
# Malta kernel with its NFS client modules, the static busybox that is the
# receiver's shell and tools, etherwake for the ether-wake applet, procps' ps,
# rpcbind as the receiver's portmap, and the libraries the mipsel receiver
# runner loads. The packages are fetched with 'apt-get download' into the same
# private apt state as scripts/mipsel-sysroot.sh and unpacked with 'dpkg -x'
# into .deps/receiver-guest (or the folder given); nothing is installed on the
# PC. Made once and again only when the list or a package version changes.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath -m "${1:-.deps/receiver-guest}")
state=$(realpath -m "$root/../mipsel-apt")
# The kernel's own package is named after its ABI: the meta package says which.
kernel_meta=linux-image-4kc-malta
wanted=(
  busybox-static etherwake
  procps libproc2-0 libncursesw6 libtinfo6
  rpcbind libtirpc3 libtirpc-common libwrap0 libnsl2 libgssapi-krb5-2 libkrb5-3 libk5crypto3
  libkrb5support0 libcom-err2 libkeyutils1 libssl3
  libsystemd0 libcap2 libgcrypt20 libgpg-error0 liblz4-1 liblzma5 libzstd1
  libc6 libgcc-s1 libstdc++6 libfreetype6 libpng16-16 zlib1g libbrotli1 libbz2-1.0 fonts-dejavu-core
)

mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/etc"
[[ -f $state/status ]] || : >"$state/status"   # nothing is installed in that world
apt_opts=(-o APT::Architecture=mipsel -o APT::Architectures::=mipsel
          -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
          -o Dir::Cache="$state/cache" -o Dir::Etc::preferencesparts="$state/etc"
          -o Debug::NoLocking=1 -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)
if [[ -z $(find "$state/lists" -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit) ]]; then
  echo "receiver-guest: fetching the mipsel package lists"
  apt-get "${apt_opts[@]}" update -qq 2>&1 | grep -v '^N: ' || true
  touch "$state/lists"
fi

kernel=$(apt-cache "${apt_opts[@]}" depends "$kernel_meta" | awk '/Depends: linux-image-/ {print $2; exit}')
[[ -n $kernel ]] || { echo "receiver-guest: no $kernel_meta in the mipsel package lists" >&2; exit 1; }
list=""
while read -r pkg version; do
  if [[ -z $version || $version == "(none)" ]]; then
    echo "receiver-guest: no mipsel package '$pkg' in this machine's Debian archives" >&2
    exit 1
  fi
  list+="$pkg=$version"$'\n'
done < <(apt-cache "${apt_opts[@]}" policy "$kernel" "${wanted[@]}" |
         awk '/^[^ ].*:$/ {sub(/:.*/, ""); p = $0} /Candidate:/ {print p, $2}')

if [[ -f $root/.packages && $(cat "$root/.packages") == "${list%$'\n'}" ]]; then
  echo "receiver-guest: $root is up to date"
  exit 0
fi

echo "receiver-guest: unpacking into $root:" $list
rm -rf "$root.new"
mkdir -p "$root.new" "$state/debs-guest"
(cd "$state/debs-guest" && rm -f ./*.deb && apt-get "${apt_opts[@]}" download -qq $list)
for deb in "$state/debs-guest"/*.deb; do dpkg -x "$deb" "$root.new"; done
rm -f "$state/debs-guest"/*.deb
printf '%s' "${list%$'\n'}" >"$root.new/.packages"
rm -rf "$root"
mv "$root.new" "$root"
