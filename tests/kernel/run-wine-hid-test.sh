#!/usr/bin/env bash
# The Windows dravik-cli.exe against the virtual controllers: wine's HID stack
# (winebus over hidraw, hidclass, SetupAPI) inside the kernel test machine.
#
#   run-wine-hid-test.sh CACHE_DIR WINDOWS_BUILD_DIR GUEST_PROGRAM CONTROLLER_TOOL LINUX_CLI
#
# Builds dravik-cli.exe (tools/build-windows.sh the first time, after that the
# one target), prepares a wine prefix on this machine once per wine version
# (wineboot is slow under emulation) and boots the kernel test machine on this
# machine's root file system (run-kernel-test.sh --host-root): wine, the
# prefix and the programs are read from there, and what wine writes stays in
# the guest's tmpfs. It never skips: anything missing fails with the reason.
# DVK_WINEDEBUG sets WINEDEBUG in the guest (default -all), e.g. +hid,+plugplay:
# a failing check prints the standard error of the wine run it made.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
name=usb_kernel_wine_hid
fail() { echo "$name: FAIL: $*" >&2; exit 1; }

[[ $# -eq 5 ]] || fail "usage: $0 CACHE_DIR WINDOWS_BUILD_DIR GUEST_PROGRAM CONTROLLER_TOOL LINUX_CLI"
cache=$1 winbuild=$2 guest=$3 tool=$4 cli=$5
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[[ -x $wine && -x $wineserver ]] || fail "$wine or $wineserver is missing (bash tools/setup.sh lab installs wine64)"
mkdir -p "$cache" || fail "cannot create $cache"

# --- dravik-cli.exe --------------------------------------------------------------
start=$(date +%s)
log="$cache/windows-build.log"
if [[ -f $winbuild/CMakeCache.txt ]]; then
  cmake --build "$winbuild" --target dravik-cli -j2 >"$log" 2>&1
else
  bash "$top/tools/build-windows.sh" "$winbuild" >"$log" 2>&1
fi || { tail -n 20 "$log" >&2; fail "the Windows build failed (log: $log)"; }
exe="$winbuild/dravik-cli.exe"
[[ -f $exe ]] || fail "the Windows build left no $exe"
echo "$name: dravik-cli.exe ready in $(( $(date +%s) - start )) s"

# --- The wine prefix ---------------------------------------------------------------
# winebus's setting (HKLM\System\CurrentControlSet\Services\winebus)
# "Enable SDL" 0: wine 8 starts its udev bus, which serves hidraw devices,
# only when the SDL bus is switched off, even when the SDL bus found no
# libSDL2 (it serves game controllers only). Without udevd in the guest, the
# udev bus finds the hidraw nodes present when it starts (in sysfs), but
# learns of none made later. Its DisableUdevd option (watching /dev instead)
# loses every node it is used for: the attribute change that follows a new
# node at once removes the device just added, and the add that goes with it
# is refused as a duplicate of the device being removed.
settings=("Enable SDL=0")
version=$("$wine" --version 2>/dev/null) || fail "$wine --version failed"
key=$(printf '%s\n' "$version" "${settings[@]}" | sha256sum | cut -c1-12)
cache_root=${DVK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dravik}
prefix="$cache_root/wine-prefix-$(tr -c 'A-Za-z0-9.\n' '_' <<<"$version")-$key"
if [[ ! -f $prefix/system.reg ]]; then
  start=$(date +%s)
  mkdir -p "$cache_root" || fail "cannot create $cache_root"
  new=$(mktemp -d "$cache_root/wine-prefix.XXXXXX") || fail "cannot create a folder in $cache_root"
  trap 'rm -rf "$new"' EXIT
  (
    export WINEPREFIX="$new/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    "$wine" wineboot --init || exit 1
    for s in "${settings[@]}"; do
      "$wine" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "${s%=*}" /t REG_DWORD /d "${s#*=}" /f || exit 1
    done
    "$wineserver" -w
  ) >"$cache/wine-prefix.log" 2>&1 || fail "preparing the wine prefix failed (log: $cache/wine-prefix.log)"
  grep -q '"Enable SDL"=dword:00000000' "$new/prefix/system.reg" ||
    fail "the wine prefix lacks winebus's settings (log: $cache/wine-prefix.log)"
  rm -rf "$prefix" && mv "$new/prefix" "$prefix" || fail "cannot move the wine prefix to $prefix"
  rmdir "$new"; trap - EXIT
  echo "$name: wine prefix prepared in $(( $(date +%s) - start )) s: $prefix"
fi

# --- The machine ----------------------------------------------------------------------
exec bash "$here/run-kernel-test.sh" --name "$name" --host-root --memory 1536 --time-limit 420 \
  --env "WINEPREFIX=$prefix" --env "WINEDEBUG=${DVK_WINEDEBUG:--all}" --env "WINEDLLOVERRIDES=mscoree,mshtml=" \
  "$cache" "$guest" "$tool" "$cli" "$wine" "$wineserver" "$exe"
