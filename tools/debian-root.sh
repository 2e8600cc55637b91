#!/usr/bin/env bash
# A fresh Debian 12 root (debootstrap --variant=minbase bookworm), for the
# package test and the newcomer stage of CI. The root is made once and kept
# as a tarball outside the clone:
#   $DVK_CACHE or ~/.cache/dravik/debian-bookworm-minbase.tar.gz
# from the mirror this machine's apt sources name (tools/apt-sources.sh);
# its own apt sources are the machine's binary sources for bookworm, as an
# installed Debian 12 has them (no deb-src entry). Needs root.
#   tools/debian-root.sh tarball       makes the tarball if it is missing, prints its path
#   tools/debian-root.sh unpack DIR    a fresh root in DIR (which must not exist or be empty)
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)

cache=$(dvk_cache_dir)
tarball="$cache/debian-bookworm-minbase.tar.gz"

make_tarball() {
  ((EUID == 0)) || dvk_fail "making the Debian root needs root (debootstrap)"
  command -v debootstrap >/dev/null || dvk_fail "debootstrap is missing (bash tools/setup.sh lab installs it)"
  mkdir -p "$cache"
  # One maker at a time; a second waits and takes the first one's tarball.
  exec 9>"$cache/debian-bookworm-minbase.lock"
  flock 9
  [[ -f $tarball ]] && return 0
  local sources mirror work start=$SECONDS
  sources=$(bash "$here/apt-sources.sh" |
    awk '{ sub(/^deb[ \t]+(\[[^]]*\][ \t]+)?/, ""); if ($2 ~ /^bookworm(-|$)/) print "deb " $0 }')
  mirror=$(awk '$3 == "bookworm" { print $2; exit }' <<<"$sources")
  [[ -n $mirror ]] || dvk_fail "no apt source of this machine serves bookworm (/etc/apt/sources.list, /etc/apt/sources.list.d)"
  work=$(mktemp -d "$cache/debian-root.XXXXXX")
  dvk_on_exit "rm -rf --one-file-system '$work'"
  echo "debian-root: debootstrap --variant=minbase bookworm from $mirror" >&2
  debootstrap --variant=minbase bookworm "$work/root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    dvk_fail "debootstrap failed: $(tail -n 5 "$work/debootstrap.log")"
  printf '%s\n' "$sources" >"$work/root/etc/apt/sources.list"
  rm -rf "$work/root/var/cache/apt/archives/"*.deb "$work/root/var/lib/apt/lists/"*_Packages
  tar -C "$work/root" -czf "$work/root.tar.gz" .
  mv "$work/root.tar.gz" "$tarball"
  echo "debian-root: made $tarball in $((SECONDS - start)) s" >&2
}

case "${1:-}" in
  tarball)
    make_tarball
    echo "$tarball"
    ;;
  unpack)
    [[ -n ${2:-} ]] || dvk_fail "usage: $0 unpack DIR"
    make_tarball
    mkdir -p "$2"
    [[ -z $(ls -A "$2") ]] || dvk_fail "$2 is not empty"
    tar -C "$2" -xzf "$tarball"
    ;;
  *) dvk_fail "usage: $0 tarball | unpack DIR" ;;
esac
