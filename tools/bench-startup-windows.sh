#!/usr/bin/env bash
# Start-up of the Windows program under wine: the time from launch until its
# first window (the start-up open dialog) is mapped on the X server, against
# a minimal wxWidgets program built the same way (static, mingw-w64, the
# toolkit's manifest) that shows the same open dialog first. Both run in
# turn in one wine prefix whose wine server is kept running, so that wine's
# own start-up is left out of both.
#   tools/bench-startup-windows.sh [RUNS]
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
wine=/usr/lib/wine/wine64
"$top/tools/setup.sh" run test lab
dvk_need_display
bash "$top/tools/build-windows.sh" >/dev/null
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target startup-probe >/dev/null

tmp=$(mktemp -d)
dvk_on_exit "WINEPREFIX='$tmp/prefix' /usr/lib/wine/wineserver -k 2>/dev/null; rm -rf '$tmp'"
wx=$(bash "$top/tools/windows/build-wx-msw.sh")
cxx=x86_64-w64-mingw32-g++-posix
# The yardstick, compiled as CMake compiles the program: -O2, static, stripped,
# with the toolkit's resources (manifest).
printf '#define wxUSE_DPI_AWARE_MANIFEST 2\n#include "wx/msw/wx.rc"\n' >"$tmp/minimal.rc"
$("$wx/bin/wx-config" --rescomp) "$tmp/minimal.rc" -O coff -o "$tmp/minimal.res"
"$cxx" -std=c++17 -O2 $("$wx/bin/wx-config" --cxxflags) "$top/tools/bench/MinimalOpenDialog.cpp" "$tmp/minimal.res" \
  $("$wx/bin/wx-config" --libs core,base) -static -static-libgcc -static-libstdc++ -s -o "$tmp/minimal.exe"

export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -p || true  # keep the server between runs
for exe in dravik minimal; do
  printf '#!/bin/sh\nexec %s %s\n' "$wine" "$( [[ $exe == dravik ]] && echo "$top/build-windows/dravik.exe" || echo "$tmp/minimal.exe")" >"$tmp/run-$exe"
  chmod +x "$tmp/run-$exe"
  "$tmp/run-$exe" & sleep 3; kill $! 2>/dev/null; wait $! 2>/dev/null || true  # warm the page cache
done

first_map() {  # launcher -> milliseconds to its first mapped window
  local m k
  read -r m k < <("$top/build/tools/bench/startup-probe" "$1" 300)
  echo "$m"
}
summary() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)], a[1], a[NR]}'; }
# The two take turns, so that both see the same machine.
program=() minimal=()
for ((i = 0; i < runs; i++)); do
  program+=("$(first_map "$tmp/run-dravik")"); sleep 0.3
  minimal+=("$(first_map "$tmp/run-minimal")"); sleep 0.3
done
read -r pm pmin pmax < <(printf '%s\n' "${program[@]}" | summary)
read -r mm mmin mmax < <(printf '%s\n' "${minimal[@]}" | summary)
printf '%-26s %12s %8s %8s\n' "under wine, $runs runs" "median (ms)" "min" "max"
printf '%-26s %12s %8s %8s\n' "dravik.exe" "$pm" "$pmin" "$pmax"
printf '%-26s %12s %8s %8s\n' "minimal wxWidgets program" "$mm" "$mmin" "$mmax"
awk -v a="$pm" -v b="$mm" 'BEGIN { printf "ratio (dravik/minimal): %.2f\n", a / b }'
