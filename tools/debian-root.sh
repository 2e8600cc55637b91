#!/usr/bin/env bash
# A fresh Debian root (debootstrap --variant=minbase SUITE), for the package
# test and the newcomer stage of CI. SUITE is a release's code name
# (bookworm, trixie); by default this machine's own (/etc/os-release). Each
# root is made once and kept as a tarball outside the clone, one per suite:
#   $DVK_CACHE or ~/.cache/dravik/debian-SUITE-minbase.tar.gz
# from the mirror this machine's apt sources name (tools/apt-sources.sh):
# the sources of this machine's own release, with its code name replaced by
# SUITE (bookworm-security becomes trixie-security), are the root's apt
# sources, as an installed Debian has them (no deb-src entry). Needs root.
#   tools/debian-root.sh tarball [SUITE]      makes the tarball if it is missing, prints its path
#   tools/debian-root.sh unpack DIR [SUITE]   a fresh root in DIR (which must not exist or be empty)
#   tools/debian-root.sh suite                prints this machine's suite
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)

host_suite() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || dvk_fail "/etc/os-release names no VERSION_CODENAME: not a Debian release"
  echo "$codename"
}

# Sets tarball to the suite's tarball, made if it is missing.
make_tarball() {  # suite
  local suite=$1 cache
  cache=$(dvk_cache_dir)
  tarball="$cache/debian-$suite-minbase.tar.gz"
  if [[ ! -f $tarball ]]; then
    ((EUID == 0)) || dvk_fail "making the Debian root needs root (debootstrap)"
    command -v debootstrap >/dev/null || dvk_fail "debootstrap is missing (bash tools/setup.sh lab installs it)"
    [[ -e /usr/share/debootstrap/scripts/$suite ]] || dvk_fail "this debootstrap does not know the suite $suite"
    mkdir -p "$cache"
    # One maker at a time; a second waits and takes the first one's tarball.
    exec 9>"$cache/debian-$suite-minbase.lock"
    flock 9
    [[ -f $tarball ]] || debootstrap_tarball "$suite" "$tarball" >&2
  fi
}

debootstrap_tarball() {  # suite tarball
  local suite=$1 tarball=$2 own sources mirror work start=$SECONDS
  own=$(host_suite)
  sources=$(bash "$here/apt-sources.sh" | awk -v own="$own" -v suite="$suite" '
    { sub(/^deb[ \t]+(\[[^]]*\][ \t]+)?/, "") }
    $2 == own || index($2, own "-") == 1 { sub("^" own, suite, $2); print "deb " $0 }')
  mirror=$(awk -v suite="$suite" '$3 == suite { print $2; exit }' <<<"$sources")
  [[ -n $mirror ]] || dvk_fail "no apt source of this machine serves its own release $own (/etc/apt/sources.list, /etc/apt/sources.list.d)"
  work=$(mktemp -d "$(dirname "$tarball")/debian-root.XXXXXX")
  dvk_on_exit "rm -rf --one-file-system '$work'"
  echo "debian-root: debootstrap --variant=minbase $suite from $mirror"
  debootstrap --variant=minbase "$suite" "$work/root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    dvk_fail "debootstrap $suite failed: $(tail -n 5 "$work/debootstrap.log")"
  printf '%s\n' "$sources" >"$work/root/etc/apt/sources.list"
  rm -f "$work/root/etc/apt/sources.list.d/"*.sources
  rm -rf "$work/root/var/cache/apt/archives/"*.deb "$work/root/var/lib/apt/lists/"*_Packages
  tar -C "$work/root" -czf "$work/root.tar.gz" .
  mv "$work/root.tar.gz" "$tarball"
  echo "debian-root: made $tarball in $((SECONDS - start)) s"
}

case "${1:-}" in
  suite) host_suite ;;
  tarball)
    make_tarball "${2:-$(host_suite)}"
    echo "$tarball"
    ;;
  unpack)
    [[ -n ${2:-} ]] || dvk_fail "usage: $0 unpack DIR [SUITE]"
    make_tarball "${3:-$(host_suite)}"
    mkdir -p "$2"
    [[ -z $(ls -A "$2") ]] || dvk_fail "$2 is not empty"
    tar -C "$2" -xzf "$tarball"
    ;;
  *) dvk_fail "usage: $0 tarball [SUITE] | unpack DIR [SUITE] | suite" ;;
esac
