#!/usr/bin/env bash
# What a new user of a fresh Debian sees: in a fresh minbase root of the
# release SUITE (tools/debian-root.sh), a clone of the commit under test in
# root's home, and the README's two quick-start commands exactly as written,
# as root:
#   bash tools/run.sh     until the main window is shown (the start-up open
#                         dialog first, dismissed with Escape), which is then
#                         closed through File > Exit; in an X server of ours
#   bash tools/test.sh    in full, with no display set (not with --run-only)
# The root gets nothing of this machine but two caches a user's second run
# also has: the toolkit for Windows (wx-msw-*) and the Debian root tarball,
# copied from $DVK_CACHE or ~/.cache/dravik; a toolkit built inside is copied
# back for the next run. No packages, no deb-src entry, no build folders.
#   tools/newcomer.sh [--suite SUITE] [--run-only] [COMMIT]
# SUITE is a release's code name (bookworm, trixie; default: this
# machine's), COMMIT defaults to HEAD of this clone. Needs root. The root is
# made under ${TMPDIR:-/tmp} and removed at the end, with every mount in it;
# DVK_KEEP_ROOT=1 keeps it (unmounted).
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
((EUID == 0)) || dvk_fail "needs root (debootstrap, chroot, mounts)"
say() { echo "newcomer: $* ($(date +%T))"; }

# The mounts are made in a mount namespace of our own where the system allows
# one (/ is a mount point): they vanish with it, whatever happens. Elsewhere
# they are taken down on the way out (below).
if [[ ${1:-} != --in-namespace ]]; then
  "$top/tools/setup.sh" test lab   # debootstrap, Xvfb, xdotool on this machine
  command -v git >/dev/null || dvk_fail "git is missing (apt-get install git)"
  if mountpoint -q /; then
    exec unshare --mount --propagation private bash "$0" --in-namespace "$@"
  fi
else
  shift
fi
suite=$(bash "$top/tools/debian-root.sh" suite)
run_only=""
while [[ ${1:-} == --* ]]; do
  case $1 in
    --suite) [[ -n ${2:-} ]] || dvk_fail "--suite needs a release's code name"; suite=$2; shift 2 ;;
    --run-only) run_only=1; shift ;;
    *) dvk_fail "unknown option $1 (usage: $0 [--suite SUITE] [--run-only] [COMMIT])" ;;
  esac
done

commit=$(git -C "$top" rev-parse --verify "${1:-HEAD}^{commit}") || dvk_fail "no commit ${1:-HEAD} in $top"
[[ -n ${1:-} || -z $(git -C "$top" status --porcelain --untracked-files=no) ]] ||
  echo "newcomer: $top has uncommitted changes; the commit $commit is tested without them" >&2
start=$SECONDS
cache=$(dvk_cache_dir)
tarball=$(bash "$top/tools/debian-root.sh" tarball "$suite")

work=$(mktemp -d "${TMPDIR:-/tmp}/dvk-newcomer.XXXXXX")
root="$work/root"

# --- Taking it all down, however the script ends ---------------------------
mounts_below() {  # deepest first
  awk -v d="$root" '$5 == d || index($5, d "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}
cleanup() {
  local pid mount left
  # Whatever still runs inside the root (a program, an X server, wine).
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [[ $(readlink "/proc/$pid/root" 2>/dev/null) == "$root" ]] && kill -9 "$pid" 2>/dev/null
  done
  for mount in $(mounts_below); do umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null; done
  left=$(mounts_below)
  if [[ -n $left ]]; then
    echo "newcomer: still mounted, $work left in place: $left" >&2
  elif [[ ${DVK_KEEP_ROOT:-} == 1 ]]; then
    echo "newcomer: the root is kept in $root" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}
dvk_on_exit cleanup

# --- The root: a fresh Debian of the suite, the clone, the two caches --------
bash "$top/tools/debian-root.sh" unpack "$root" "$suite"
cp /etc/resolv.conf "$root/etc/resolv.conf"  # the network, as any machine has it
git clone --quiet --no-hardlinks "$top" "$root/root/dravik"
git -C "$root/root/dravik" checkout --quiet --detach "$commit"
mkdir -p "$root/root/.cache/dravik"
cp "$tarball" "$root/root/.cache/dravik/"
handed=()
for wx in "$cache"/wx-msw-*; do
  [[ -f $wx/.complete ]] || continue
  cp -a "$wx" "$root/root/.cache/dravik/"
  handed+=("$(basename "$wx")")
done
say "a fresh Debian $suite root in $root with a clone of $commit; caches handed in: the Debian root tarball${handed[*]:+, ${handed[*]}}"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"

# As root logs in on such a machine: root's environment, nothing of ours.
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# --- bash tools/run.sh, until the main window is shown ----------------------
dvk_start_xvfb
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
say "bash tools/run.sh"
run_start=$SECONDS
in_root DISPLAY="$DISPLAY" bash -c 'cd /root/dravik && bash tools/run.sh' \
  > >(sed -u 's/^/run.sh| /') 2>&1 &
run=$!
dialog=""
until dialog=$(dvk_find_window '^Please select the file to open' 2); do
  kill -0 "$run" 2>/dev/null || { wait "$run"; dvk_fail "bash tools/run.sh ended (status $?) before any window was shown"; }
  ((SECONDS - run_start < 3600)) || dvk_fail "bash tools/run.sh showed no window within an hour"
done
say "run.sh: the open dialog after $((SECONDS - run_start)) s; Escape"
xdotool mousemove --window "$dialog" 20 20 key Escape
main=$(dvk_find_window '^Dravik Embosser Controller$' 60) ||
  dvk_fail "no main window \"Dravik Embosser Controller\" within 60 s of dismissing the open dialog"
say "run.sh: the main window \"Dravik Embosser Controller\" after $((SECONDS - run_start)) s; closing it through File > Exit"
xdotool mousemove --window "$main" 190 100 key alt+f
sleep 1
xdotool key x
for ((i = 0; i < 30; i++)); do kill -0 "$run" 2>/dev/null || break; sleep 1; done
kill -0 "$run" 2>/dev/null && dvk_fail "the program did not end after File > Exit"
wait "$run" || dvk_fail "bash tools/run.sh ended with status $? after File > Exit"
umount "$root/tmp/.X11-unix"
kill "$DVK_XVFB_PID"
unset DISPLAY
run_seconds=$((SECONDS - run_start))
say "bash tools/run.sh passed in $run_seconds s"

if [[ -n $run_only ]]; then
  say "run.sh $run_seconds s, in all $((SECONDS - start)) s (bash tools/test.sh not run: --run-only)"
  exit 0
fi

# --- bash tools/test.sh, in full ---------------------------------------------
say "bash tools/test.sh"
test_start=$SECONDS
status=0
in_root bash -c 'cd /root/dravik && bash tools/test.sh' || status=$?
test_seconds=$((SECONDS - test_start))

# A toolkit for Windows built inside serves the next run.
for wx in "$root/root/.cache/dravik"/wx-msw-*; do
  [[ -f $wx/.complete && ! -e $cache/$(basename "$wx") ]] || continue
  mkdir -p "$cache"
  cp -a "$wx" "$cache/$(basename "$wx").part" && mv "$cache/$(basename "$wx").part" "$cache/$(basename "$wx")"
  say "kept the toolkit built inside for the next run: $cache/$(basename "$wx")"
done

say "$suite: run.sh $run_seconds s, test.sh $test_seconds s (status $status), in all $((SECONDS - start)) s"
((status == 0)) || dvk_fail "bash tools/test.sh failed (status $status) in the fresh $suite root"
