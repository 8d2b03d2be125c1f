# The private apt world of Debian's mipsel packages, sourced by
# scripts/mipsel-sysroot.sh and scripts/receiver-guest.sh. Nothing in it is
# installed on this machine and no package of it changes: the package lists
# live in a private state folder, packages are fetched with 'apt-get
# download' and unpacked with 'dpkg -x' into a folder of their own.
#
#   mipsel_apt_init TOOL STATE      makes STATE, sets apt_opts, fetches the lists
#                                   (once a day at most)
#   mipsel_apt_pin TOOL PKG...      prints "PKG=VERSION" per package, the
#                                   candidate version; fails on a missing one
#   mipsel_apt_unpack TOOL ROOT LIST [FIX]
#                                   unpacks the packages of LIST into ROOT,
#                                   unless ROOT already holds exactly LIST;
#                                   FIX, a function, may mend the new folder
#                                   before it replaces ROOT

mipsel_apt_init() {
  local tool=$1
  mipsel_apt_state=$2
  mkdir -p "$mipsel_apt_state/lists/partial" "$mipsel_apt_state/cache/archives/partial" "$mipsel_apt_state/etc"
  [[ -f $mipsel_apt_state/status ]] || : >"$mipsel_apt_state/status"   # nothing is installed in that world
  apt_opts=(-o APT::Architecture=mipsel -o APT::Architectures::=mipsel
            -o Dir::State::Lists="$mipsel_apt_state/lists" -o Dir::State::status="$mipsel_apt_state/status"
            -o Dir::Cache="$mipsel_apt_state/cache" -o Dir::Etc::preferencesparts="$mipsel_apt_state/etc"
            -o Debug::NoLocking=1 -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)
  # The stamp is the age of the lists folder.
  if [[ -z $(find "$mipsel_apt_state/lists" -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit) ]]; then
    echo "$tool: fetching the mipsel package lists"
    apt-get "${apt_opts[@]}" update -qq 2>&1 | grep -v '^N: ' || true
    touch "$mipsel_apt_state/lists"
  fi
}

mipsel_apt_pin() {
  local tool=$1 pkg version
  shift
  while read -r pkg version; do
    if [[ -z $version || $version == "(none)" ]]; then
      echo "$tool: no mipsel package '$pkg' in this machine's Debian archives" >&2
      return 1
    fi
    echo "$pkg=$version"
  done < <(apt-cache "${apt_opts[@]}" policy "$@" |
           awk '/^[^ ].*:$/ {sub(/:.*/, ""); p = $0} /Candidate:/ {print p, $2}')
}

mipsel_apt_unpack() {
  local tool=$1 root=$2 list=$3 fix=${4:-}
  local debs="$mipsel_apt_state/debs-$tool"
  if [[ -f $root/.packages && $(cat "$root/.packages") == "$list" ]]; then
    echo "$tool: $root is up to date"
    return 0
  fi
  echo "$tool: unpacking into $root:" $list
  rm -rf "$root.new"
  mkdir -p "$root.new" "$debs"
  (cd "$debs" && rm -f ./*.deb && apt-get "${apt_opts[@]}" download -qq $list)
  local deb
  for deb in "$debs"/*.deb; do dpkg -x "$deb" "$root.new"; done
  rm -f "$debs"/*.deb
  [[ -z $fix ]] || "$fix" "$root.new"
  printf '%s' "$list" >"$root.new/.packages"
  rm -rf "$root"
  mv "$root.new" "$root"
}
