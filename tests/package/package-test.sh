#!/usr/bin/env bash
# The Linux product as a user and as Debian see it.
#
#   package-test.sh build   SOURCE PRODUCT        configure (no tests, no
#                                                 helper programs) and build
#                                                 PRODUCT as an unprivileged
#                                                 user
#   package-test.sh install SOURCE PRODUCT        as that user, cmake --install
#                                                 under a temporary prefix: the
#                                                 whole tree lands there,
#                                                 nothing outside it
#   package-test.sh deb     SOURCE PRODUCT WORK   cpack -G DEB, lintian, then
#                                                 in a fresh minbase root of
#                                                 this machine's own release:
#                                                 apt-get install
#                                                 ./dravik_*.deb, the program
#                                                 starts, the desktop entry and
#                                                 the metainfo validate, it is
#                                                 the handler of .dvk files,
#                                                 apt-get purge leaves nothing
#   package-test.sh reproducible SOURCE WORK      the same sources built twice,
#                                                 in two folders at two times:
#                                                 the .deb, dravik.exe,
#                                                 dravik-cli.exe, the installer
#                                                 and the portable archive are
#                                                 the same bytes
#
# The unprivileged user is the caller, or "nobody" when run as root. Where
# that user cannot reach SOURCE or PRODUCT (a clone in root's home), it
# builds a copy of the sources under /tmp instead. The deb mode needs root
# (chroot, mounts). The fresh root is unpacked in WORK from the tarball that
# tools/debian-root.sh keeps outside the clone (made the first time from the
# mirror this machine's apt sources name).
# Nothing is skipped: whatever is missing fails with the reason.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
DVK_LIB_FUNCTIONS_ONLY=1 source "$top/tools/lib.sh"

start_ns=$(date +%s%N)
seconds() { awk -v ns=$(( $(date +%s%N) - start_ns )) 'BEGIN { printf "%.1f", ns / 1e9 }'; }
fail() { echo "package: FAIL: $*" >&2; exit 1; }
need() { for tool; do command -v "$tool" >/dev/null || fail "$tool is missing (bash tools/setup.sh lab)"; done; }

# Runs a command as the unprivileged user (from /, which it can reach; the
# paths it is given are absolute).
as_user() {
  if ((EUID == 0)); then
    (cd / && HOME=/tmp setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups -- "$@")
  else
    "$@"
  fi
}
# The build folder the unprivileged user works in: PRODUCT, or a folder
# under /tmp where that user cannot reach SOURCE or PRODUCT.
product_dir() {
  if as_user test -r "$1/CMakeLists.txt" -a -x "$(dirname "$2")"; then
    echo "$2"
  else
    echo "/tmp/dravik-package-$(printf %s "$2" | md5sum | cut -c1-8)/product"
  fi
}
give_to_user() { ((EUID != 0)) || chown -R nobody:"$(id -gn nobody)" "$@"; }

# The files of an install, relative to the prefix.
expected_tree() {
  local size
  printf '%s\n' bin/dravik bin/dravik-cli lib/udev/rules.d/70-dravik-controller.rules \
    share/applications/dravik.desktop share/doc/dravik/changelog.gz share/doc/dravik/copyright \
    share/icons/hicolor/scalable/apps/dravik.svg share/man/man1/dravik.1.gz share/man/man1/dravik-cli.1.gz \
    share/metainfo/example.dravik_controls.dravik.metainfo.xml share/mime/packages/dravik.xml
  for size in 16 24 32 48 64 128 256; do
    echo "share/icons/hicolor/${size}x${size}/apps/dravik.png"
  done
  printf 'share/locale/%s/LC_MESSAGES/dravik.mo\n' de es fr it ja pl zh_CN
}

mode_build() {
  local source=$1 product
  need cmake setpriv
  product=$(product_dir "$1" "$2")
  if [[ $product != "$2" ]]; then
    local copy=${product%/product}/source
    echo "package: $(as_user id -un) cannot reach $1 or $2: building a copy in ${copy%/source}"
    [[ ! -e ${copy%/source} || ( -d ${copy%/source} && ! -L ${copy%/source} && $(stat -c %u "${copy%/source}") == "$EUID" ) ]] ||
      fail "${copy%/source} exists and is not our own folder"
    rm -rf "$copy" && mkdir -p "$copy" && chmod 755 "${copy%/source}" &&
      tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf - ||
      fail "cannot copy the sources to $copy"
    source=$copy
  fi
  mkdir -p "$product" && give_to_user "$product" || fail "cannot prepare $product"
  as_user cmake -S "$source" -B "$product" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF >/dev/null ||
    fail "configuring without tests and helper programs failed"
  as_user cmake --build "$product" -j"$(nproc)" >"$product/build.log" 2>&1 ||
    fail "building as $(as_user id -un) failed: $(tail -n 20 "$product/build.log")"
  echo "package: built $product as $(as_user id -un) in $(seconds) s"
}

mode_install() {
  local product prefix
  product=$(product_dir "$1" "$2")
  need cmake setpriv identify
  prefix=$(mktemp -d) || fail "no temporary folder"
  trap "rm -rf '$prefix'" EXIT
  give_to_user "$prefix"
  as_user cmake --install "$product" --prefix "$prefix/usr" >/dev/null ||
    fail "cmake --install --prefix $prefix/usr as $(as_user id -un) failed"
  local found
  found=$(cd "$prefix/usr" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort)
  diff <(expected_tree | sort) <(echo "$found") >&2 || fail "the install tree differs from the expected one (< missing, > unexpected)"
  diff <(expected_tree | sed "s|^|$prefix/usr/|" | sort) <(sort "$product/install_manifest.txt") >&2 ||
    fail "cmake installed files outside $prefix/usr (install_manifest.txt)"
  local size
  for size in 16 24 32 48 64 128 256; do
    [[ $(identify -format '%wx%h' "$prefix/usr/share/icons/hicolor/${size}x${size}/apps/dravik.png" 2>&1) == "${size}x${size}" ]] ||
      fail "icon ${size}x${size} is not a ${size}x${size} image"
  done
  echo "package: installed $(wc -l <<<"$found") files under the prefix as $(as_user id -un), none outside"
}

mode_deb() {
  local product work=$3
  product=$(product_dir "$1" "$2")
  ((EUID == 0)) || fail "the Debian root needs root (debootstrap, chroot, mounts)"
  need cpack dpkg-shlibdeps file lintian debootstrap desktop-file-validate appstreamcli Xvfb xdotool unshare chroot setpriv
  local out="$product/package"
  rm -rf "$out" && mkdir -p "$out" && give_to_user "$out" || fail "cannot prepare $out"
  as_user cpack -G DEB --config "$product/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    fail "cpack -G DEB failed: $(tail -n 20 "$out/cpack.log")"
  local deb
  deb=$(ls "$out"/dravik_*_amd64.deb 2>/dev/null) && [[ $(wc -l <<<"$deb") == 1 ]] || fail "cpack made no dravik_<version>_amd64.deb"
  echo "package: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
  as_user lintian --fail-on error "$deb" >&2 || fail "lintian reports errors for $(basename "$deb")"

  # A fresh root of this machine's own release (the one the package was
  # built for and depends on), from the tarball cached outside the clone
  # (tools/debian-root.sh makes it the first time).
  local root="$work/root"
  mkdir -p "$work" && remove_root "$root" || fail "cannot clear $root"
  bash "$top/tools/debian-root.sh" unpack "$root" || fail "no fresh Debian root (tools/debian-root.sh)"
  cp "$deb" "$root/tmp/" && cp /etc/resolv.conf "$root/etc/resolv.conf" || fail "cannot prepare $root"
  # The mounts in the root live in a mount namespace of their own where the
  # system allows one (/ is a mount point): they vanish with it. In a chroot
  # or a container whose / is no mount point, they are made here and taken
  # down when the root's part ends, however it ends. The root is removed
  # only once nothing is mounted in it.
  local status
  if mountpoint -q /; then
    unshare --mount --propagation private bash "$0" deb-root "$root" "$(basename "$deb")"
    status=$?
  else
    bash "$0" deb-root "$root" "$(basename "$deb")"
    status=$?
  fi
  remove_root "$root" || fail "cannot remove $root"
  return $status
}

# Mounts at or below the folder, deepest first.
mounts_below() {
  awk -v d="$1" '$5 == d || index($5, d "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}
# Unmounts whatever is mounted at or below the folder; fails when a mount
# stays.
unmount_below() {
  local dir mount
  dir=$(realpath "$1") || return 1
  for mount in $(mounts_below "$dir"); do umount "$mount" 2>/dev/null || umount -l "$mount"; done
  [[ -z $(mounts_below "$dir") ]] || { echo "package: still mounted in $dir: $(mounts_below "$dir")" >&2; return 1; }
}
# Removes the folder once nothing is mounted in it; never through a mount.
remove_root() {
  [[ -e $1 ]] || return 0
  unmount_below "$1" && rm -rf --one-file-system "$1"
}

# The root's part: the mounts it makes are taken down when it ends.
mode_deb_root() {
  local root=$1 deb=$2 logs=$1-logs
  mkdir -p "$logs" || fail "cannot create $logs"
  # Globals: the exit trap may run after this function has returned.
  program="" xvfb="" deb_root=$root
  trap 'kill $program $xvfb 2>/dev/null; unmount_below "$deb_root"' EXIT
  mount --bind /dev "$root/dev" && mount -t proc proc "$root/proc" || fail "cannot mount /dev and /proc in $root"
  in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
  installed() { in_root dpkg-query -W -f '${Package} ${Installed-Size}\n' | sort; }

  in_root apt-get update -qq >/dev/null 2>&1 || fail "apt-get update in the Debian root failed"
  local before after
  before=$(installed)
  local install_start=$(seconds)
  in_root apt-get install -y -qq "/tmp/$deb" >"$logs/install.log" 2>&1 ||
    fail "apt-get install ./$deb failed: $(tail -n 20 "$logs/install.log")"
  after=$(installed)
  comm -13 <(echo "$before") <(echo "$after") | awk -v t0="$install_start" -v t1="$(seconds)" '
    { n++; kib += $2 } END { printf "package: apt-get install ./dravik installed %d packages (dravik and %d it pulled in), %.1f MiB, in %.1f s\n", n, n - 1, kib / 1024, t1 - t0 }'

  [[ $(in_root sh -c 'command -v dravik') == /usr/bin/dravik ]] || fail "dravik is not on the PATH of the root"
  # .dvk files open with the program: what a desktop asks (xdg-mime, with the
  # MIME cache of desktop-file-utils) names its desktop entry.
  in_root apt-get install -y -qq --no-install-recommends xdg-utils desktop-file-utils >"$logs/xdg.log" 2>&1 ||
    fail "apt-get install xdg-utils desktop-file-utils failed: $(tail -n 20 "$logs/xdg.log")"
  local handler
  handler=$(in_root xdg-mime query default application/x-dravik-settings 2>&1)
  [[ $handler == dravik.desktop ]] || fail "xdg-mime names \"$handler\", not dravik.desktop, as the handler of .dvk files"
  [[ -f $root/usr/lib/udev/rules.d/70-dravik-controller.rules ]] || fail "the udev rule is not in /usr/lib/udev/rules.d"
  desktop-file-validate "$root/usr/share/applications/dravik.desktop" >&2 || fail "desktop-file-validate rejects dravik.desktop"
  appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >&2 || fail "appstreamcli validate rejects the metainfo"
  grep -q ':application/x-dravik-settings:\*\.dvk' "$root/usr/share/mime/globs2" ||
    fail "the MIME database of the root has no application/x-dravik-settings for *.dvk"

  # The program, under an X server of its own: the open dialog, then after
  # Escape the main window.
  local xvfb display="" i
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$logs/display" >/dev/null 2>&1 &
  xvfb=$!
  for ((i = 0; i < 200; i++)); do
    display=$(cat "$logs/display" 2>/dev/null) && [[ -n $display ]] && break
    sleep 0.1
  done
  [[ -n $display ]] || fail "Xvfb did not start"
  export DISPLAY=:$display
  mkdir -p "$root/tmp/.X11-unix" "$root/tmp/home" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" ||
    fail "cannot bring the X socket into the root"
  chroot "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/home DISPLAY="$DISPLAY" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
    dravik >"$logs/dravik.log" 2>&1 &
  program=$!
  local dialog main
  dialog=$(dvk_find_window '^Please select the file to open' 30) ||
    fail "the installed dravik showed no open dialog: $(cat "$logs/dravik.log")"
  xdotool mousemove --window "$dialog" 20 20 key Escape
  main=$(dvk_find_window '^Dravik Embosser Controller$' 30) || fail "no main window after Escape: $(cat "$logs/dravik.log")"
  kill "$program" 2>/dev/null; wait "$program" 2>/dev/null; program=""
  rm -rf "$root/tmp/home"
  echo "package: the installed dravik showed the open dialog, then its main window"

  # Purging leaves none of the package's files behind, nor any file named
  # after it that no other package owns.
  local files
  files=$(in_root dpkg-query -L dravik | grep -vx '/\.')
  in_root apt-get purge -y -qq dravik >"$logs/purge.log" 2>&1 || fail "apt-get purge dravik failed: $(tail -n 20 "$logs/purge.log")"
  rm -f "$root/tmp/$deb"
  local left=() path
  while read -r path; do
    [[ -e $root$path ]] && ! in_root dpkg-query -S "$path" >/dev/null 2>&1 && left+=("$path")
  done < <({ echo "$files"; cd "$root" && find . -xdev -iname '*dravik*' | sed 's|^\.||'; } | sort -u)
  ((${#left[@]} == 0)) || fail "apt-get purge left behind: ${left[*]}"
  handler=$(in_root xdg-mime query default application/x-dravik-settings 2>&1)
  [[ -z $handler ]] || fail "after the purge xdg-mime still names \"$handler\" as the handler of .dvk files"
  echo "package: apt-get purge dravik left nothing behind, nor a handler of .dvk files"
}

# Two builds of the same sources, from copies in two folders of different
# depth, one after the other: the Linux package (cpack -G DEB) and the
# Windows programs, installer and portable archive (tools/build-windows.sh)
# of each must be byte for byte the same.
mode_reproducible() {
  local source=$1 work=$2 copy
  need cmake cpack tar cmp
  rm -rf "$work" && mkdir -p "$work/one" "$work/second/build" || fail "cannot prepare $work"
  for copy in "$work/one/src" "$work/second/build/dravik-src"; do
    mkdir -p "$copy" && tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf - ||
      fail "cannot copy the sources to $copy"
    cmake -S "$copy" -B "$copy/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF \
      >"$copy.log" 2>&1 && cmake --build "$copy/build" -j"$(nproc)" >>"$copy.log" 2>&1 &&
      (cd "$copy/build" && cpack -G DEB >>"$copy.log" 2>&1) || fail "the Linux build in $copy failed: $(tail -n 20 "$copy.log")"
    bash "$copy/tools/build-windows.sh" "$copy/build-windows" >>"$copy.log" 2>&1 ||
      fail "the Windows build in $copy failed: $(tail -n 20 "$copy.log")"
    echo "package: built $copy at $(date -u +%T) in $(seconds) s"
  done
  local one=$work/one/src second=$work/second/build/dravik-src file name differ=0
  for file in build/dravik_*_amd64.deb build-windows/dravik.exe build-windows/dravik-cli.exe \
    build-windows/dravik-setup-*.exe build-windows/dravik-*-windows-x64.zip; do
    file=$(cd "$one" && ls $file 2>/dev/null) || fail "the first build made no $file"
    name=$(basename "$file")
    if cmp -s "$one/$file" "$second/$file"; then
      echo "package: $name is the same in both builds ($(stat -c %s "$one/$file") bytes)"
    else
      echo "package: FAIL: $name differs between $one and $second" >&2
      differ=1
    fi
  done
  ((differ == 0)) || fail "the two builds differ (kept in $work)"
  rm -rf "$work"
}

case "${1:-}" in
  build)    mode_build "$2" "$3" ;;
  install)  mode_install "$2" "$3" ;;
  deb)      mode_deb "$2" "$3" "$4" || exit 1; echo "package: total time $(seconds) s" ;;
  deb-root) mode_deb_root "$2" "$3" ;;
  reproducible) mode_reproducible "$2" "$3"; echo "package: total time $(seconds) s" ;;
  *) fail "usage: $0 build|install SOURCE PRODUCT, deb SOURCE PRODUCT WORK, or reproducible SOURCE WORK" ;;
esac
