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

. scripts/mipsel-apt.sh
mipsel_apt_init receiver-guest "$state"

kernel=$(apt-cache "${apt_opts[@]}" depends "$kernel_meta" | awk '/Depends: linux-image-/ {print $2; exit}')
[[ -n $kernel ]] || { echo "receiver-guest: no $kernel_meta in the mipsel package lists" >&2; exit 1; }
list=$(mipsel_apt_pin receiver-guest "$kernel" "${wanted[@]}")
mipsel_apt_unpack receiver-guest "$root" "$list"
